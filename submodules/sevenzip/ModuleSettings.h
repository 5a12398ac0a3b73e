// The sevenzip sub-module's settings: its own section of Morvane's INI file, as the settings text
// that LoadSubModule receives ("key=value\0...\0\0").
//
//   Formats=7z;zip;Ext       the 7-Zip formats that may claim a file (default: all of them but
//                            those of Exclude); names as 7-Zip gives them, letter case ignored
//   Exclude=PE;ELF           formats that never claim a file (default: the executables PE, ELF,
//                            MachO, TE and COFF, which would claim every program and library; an
//                            installer is still opened through the archive inside it)
//   Nested=0                 show the single item of a compressed stream, a split archive or a
//                            disk image as it is, instead of what it holds (default: 1)
//
// Unknown keys are ignored; a value that cannot be used refuses the module, so that Morvane
// reports it instead of the module silently doing something else.
#pragma once

#include <string>
#include <vector>

namespace sevenzip {

struct Format;
class FormatLibrary;

struct ModuleSettings {
    bool formatsGiven = false;
    std::vector<std::u16string> formats;   // lower-case
    std::vector<std::u16string> excluded;  // lower-case
    bool nested = true;

    ModuleSettings();
    // Whether the format may claim a file.
    bool Allows(const Format& format) const;
};

// Reads the settings text ("key=value\0...\0\0", null for none); false, with the reason, when a
// value cannot be used.
bool ParseSettings(const char16_t* text, ModuleSettings& settings, std::string& problem);
// Whether every format the settings name is in the library.
bool NamesAreKnown(const ModuleSettings& settings, const FormatLibrary& library, std::string& problem);

}  // namespace sevenzip
