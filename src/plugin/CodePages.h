// Text of the ANSI entry points, converted in the system's ANSI code page.
#pragma once

#include <memory>
#include <string>

// Null stays null; a text the platform cannot convert also gives null.
std::unique_ptr<std::u16string> AnsiToWide(const char* text);
std::unique_ptr<std::string> WideToAnsi(const char16_t* text);
