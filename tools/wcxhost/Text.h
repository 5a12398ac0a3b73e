// Text conversions and the formatting of what the interface reports.
#pragma once

#include <cstdint>
#include <string>

#include "text/Utf8.h"

namespace wcxhost {

using text::FromUtf8;
using text::ToUtf8;

// "E_BAD_ARCHIVE (13): the archive is damaged"
std::string DescribeResult(int code);
bool IsKnownResult(int code);

// The DOS time stamp as "YYYY-MM-DD HH:MM:SS"; dashes when it is zero.
std::string FormatDosTime(int fileTime);
// Five letters for directory, read-only, hidden, system, archive; "-" where a bit is clear.
std::string FormatAttributes(int attributes);
// "12.3 MiB"
std::string FormatBytes(uint64_t bytes);
std::string FormatCaps(int caps);

}  // namespace wcxhost
