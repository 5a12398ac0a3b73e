// The formats sub-module's settings: its own section of Morvane's INI file, as the settings text
// that LoadSubModule receives ("key=value\0...\0\0").
//
//   Formats=zip;7zip;iso9660   the archive formats to recognise (default: all of them)
//   Filters=gzip;xz            the compressions and wrappers (rpm) to see through (default: all)
//   CodePage=866               names the archive does not mark as Unicode are in this code page
//   Charset=CP866              the same by name (UTF-8, CPnnn, IBMnnn, WINDOWS-nnnn, ISO-8859-n...)
//   Options=iso9660:!joliet    libarchive read options, passed on unchanged
//
// Unknown keys are ignored; a value that cannot be used makes the whole text invalid, so that
// Morvane reports the module instead of it silently doing something else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace formats {

// Every read format of libarchive that can be told apart by its content. "raw" and "mtree" are
// left out: they would claim any file and any text file.
const std::vector<std::string>& KnownFormats();
// The decompression filters, all of them read in-process.
const std::vector<std::string>& KnownFilters();

struct ModuleSettings {
    std::vector<std::string> formats = KnownFormats();
    std::vector<std::string> filters = KnownFilters();
    uint32_t codePage = 65001;
    std::string charset = "UTF-8";  // the same code page as libarchive and iconv name it
    std::string options;
};

// Reads the settings text ("key=value\0...\0\0", null for none); false, with the reason, when
// a value cannot be used.
bool ParseSettings(const char16_t* text, ModuleSettings& settings, std::string& problem);

// The charset name for a code page, as libarchive and iconv know it; empty when it has none.
std::string CharsetOfCodePage(uint32_t codePage);
// The code page of a charset name (case-insensitive); 0 when unknown.
uint32_t CodePageOfCharset(const std::string& name);

}  // namespace formats
