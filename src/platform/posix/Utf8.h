// UTF-8 <-> UTF-16 for the POSIX stand-ins, whose system calls take UTF-8.
#pragma once

#include <string>

namespace platform {
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);
}  // namespace platform
