// UTF-8 <-> UTF-16, for the places where text leaves or enters as UTF-8 (Linux system calls,
// pipes and files). Unpaired surrogates and malformed bytes become U+FFFD.
#pragma once

#include <string>

namespace text {

std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);

}  // namespace text
