#include "archive/PasswordCache.h"

const char* PasswordCache::Find(const std::u16string& path) const {
    std::lock_guard<platform::Lock> guard(lock_);
    const auto found = entries_.find(path);
    return found == entries_.end() ? nullptr : found->second->c_str();
}

void PasswordCache::Remember(const std::u16string& path, const std::string& text) {
    std::lock_guard<platform::Lock> guard(lock_);
    entries_.emplace(path, std::make_unique<const std::string>(text));
}

void PasswordCache::Replace(const std::u16string& path, const std::string& text) {
    std::lock_guard<platform::Lock> guard(lock_);
    auto& entry = entries_[path];
    if (entry) retired_.push_back(std::move(entry));
    entry = std::make_unique<const std::string>(text);
}
