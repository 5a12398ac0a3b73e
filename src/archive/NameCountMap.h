// Makes repeated entry names of one archive unique: the second "report.txt" becomes "report,1.txt".
// Archives list up to millions of entries, so each name is kept once, packed in large blocks,
// behind an open-addressing table of 8-byte slots: far less than a node and a string per name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class NameCountMap {
public:
    // How often the name of length units was counted before: 0 the first time. Throws
    // std::bad_alloc when the name cannot be kept, and leaves the map as it was.
    uint32_t Count(const char16_t* name, size_t length);
    // The same with the name's NameHash, when the caller has it already.
    uint32_t Count(const char16_t* name, size_t length, uint32_t hash);
    // The name to show for the next entry called name.
    std::u16string Number(const std::u16string& name);
    // name as shown for its count-th repetition: the number goes before the last dot of the
    // whole name, directory parts included.
    static std::u16string WithNumber(const std::u16string& name, uint32_t count);

private:
    struct Slot {
        uint32_t location;  // of the name's record in the blocks, kEmpty when free
        uint32_t hash;
    };
    static constexpr uint32_t kEmpty = UINT32_MAX;

    char16_t* Record(uint32_t location) const;
    void Grow();
    uint32_t Store(const char16_t* name, size_t length);

    // Ordinal, case-sensitive keys: "Readme.txt" and "README.TXT" are two names.
    std::vector<Slot> slots_;  // a power of two long, at most three quarters full
    size_t used_ = 0;
    // Records of [length][count low][count high][name...], never split between blocks.
    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    size_t blockFill_ = SIZE_MAX / 2;  // units taken in the last block; before the first, no room
};
