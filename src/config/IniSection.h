// One section of the INI file: its name and its key/value pairs in first-occurrence order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class IniSection {
public:
    using Pair = std::pair<std::u16string, std::u16string>;

    explicit IniSection(std::u16string name) : name_(std::move(name)) {}

    const std::u16string& Name() const { return name_; }
    const std::vector<Pair>& Pairs() const { return pairs_; }

    // Replaces the value of an equal key in place, else appends the pair.
    void Set(const std::u16string& key, const std::u16string& value);
    bool GetString(const std::u16string& key, std::u16string& out) const;
    // Decimal like wcstol: leading white space and a sign accepted, stops at the first non-digit.
    bool GetInt(const std::u16string& key, int32_t& out) const;
    // "key=value\0" per pair, then one more "\0"; a section without pairs gives a single "\0".
    std::u16string Flatten() const;

private:
    const Pair* Find(const std::u16string& key) const;

    std::u16string name_;
    std::vector<Pair> pairs_;
};
