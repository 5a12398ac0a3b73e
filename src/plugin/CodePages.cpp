#include "plugin/CodePages.h"

#include "platform/Platform.h"

std::unique_ptr<std::u16string> AnsiToWide(const char* text) {
    if (!text) return nullptr;
    auto wide = std::make_unique<std::u16string>();
    if (!platform::AnsiToWide(text, *wide)) return nullptr;
    return wide;
}

std::unique_ptr<std::string> WideToAnsi(std::u16string_view text) {
    auto ansi = std::make_unique<std::string>();
    if (!platform::WideToAnsi(text, *ansi)) return nullptr;
    return ansi;
}
