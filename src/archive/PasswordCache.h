// Passwords that opened each archive path, for the life of the process (memory only).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

class PasswordCache {
public:
    // The remembered password for exactly this path (case-sensitive), or null. The text stays
    // valid until the cache is destroyed.
    const char* Find(const std::u16string& path) const;
    // Stores text under path when the path has no entry yet.
    void Remember(const std::u16string& path, const std::string& text);
    // Stores text under path in place of a stale entry.
    void Replace(const std::u16string& path, const std::string& text);

private:
    // Each lock covers one lookup or one insert, never a dialog or a sub-module call.
    mutable platform::Lock lock_;
    std::map<std::u16string, std::unique_ptr<const std::string>> entries_;
    // Replaced texts stay alive: another open may still be offering one to a sub-module.
    std::vector<std::unique_ptr<const std::string>> retired_;
};
