// Text of the ANSI entry points, converted in the system's ANSI code page.
#pragma once

#include <memory>
#include <string>
#include <string_view>

// Null stays null; a text the platform cannot convert also gives null.
std::unique_ptr<std::u16string> AnsiToWide(const char* text);
// Every unit of text, embedded zeros too; null when the platform cannot convert it.
std::unique_ptr<std::string> WideToAnsi(std::u16string_view text);
