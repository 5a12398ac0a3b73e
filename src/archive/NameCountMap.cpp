#include "archive/NameCountMap.h"

#include <cstring>
#include <new>

#include "archive/NameScan.h"

namespace {

constexpr size_t kBlockUnits = size_t(1) << 15;  // 64 KiB blocks
constexpr size_t kHeaderUnits = 3;               // length, count low, count high
constexpr uint64_t kMaxBlocks = (uint64_t(UINT32_MAX) + 1) / kBlockUnits;  // locations are 32-bit

}  // namespace

char16_t* NameCountMap::Record(uint32_t location) const {
    return blocks_[location / kBlockUnits].get() + location % kBlockUnits;
}

void NameCountMap::Grow() {
    std::vector<Slot> grown(slots_.empty() ? 64 : slots_.size() * 2, Slot{kEmpty, 0});
    const size_t mask = grown.size() - 1;
    for (const Slot& slot : slots_) {
        if (slot.location == kEmpty) continue;
        size_t at = slot.hash & mask;
        while (grown[at].location != kEmpty) at = (at + 1) & mask;
        grown[at] = slot;
    }
    slots_.swap(grown);
}

uint32_t NameCountMap::Store(const char16_t* name, size_t length) {
    const size_t units = kHeaderUnits + length;  // at most a block: Count refuses longer names
    if (blockFill_ + units > kBlockUnits) {
        if (blocks_.size() >= kMaxBlocks) throw std::bad_alloc();
        std::unique_ptr<char16_t[]> block(new char16_t[kBlockUnits]);
        blocks_.push_back(std::move(block));
        blockFill_ = 0;
    }
    const uint32_t location = uint32_t((blocks_.size() - 1) * kBlockUnits + blockFill_);
    char16_t* record = Record(location);
    record[0] = char16_t(length);
    record[1] = record[2] = 0;
    std::memcpy(record + kHeaderUnits, name, length * sizeof(char16_t));
    blockFill_ += units;
    return location;
}

uint32_t NameCountMap::Count(const char16_t* name, size_t length) {
    return Count(name, length, NameHash(name, length));
}

uint32_t NameCountMap::Count(const char16_t* name, size_t length, uint32_t hash) {
    if (length > kBlockUnits - kHeaderUnits) throw std::bad_alloc();
    if (slots_.empty()) Grow();
    size_t mask = slots_.size() - 1;
    size_t at = hash & mask;
    for (; slots_[at].location != kEmpty; at = (at + 1) & mask) {
        if (slots_[at].hash != hash) continue;
        char16_t* record = Record(slots_[at].location);
        if (record[0] != length || std::memcmp(record + kHeaderUnits, name, length * sizeof(char16_t)) != 0)
            continue;
        const uint32_t count = (uint32_t(record[2]) << 16 | record[1]) + 1;
        record[1] = char16_t(count & 0xFFFF);
        record[2] = char16_t(count >> 16);
        return count;
    }
    // A new name. Everything that can fail comes before the map changes.
    if ((used_ + 1) * 4 > slots_.size() * 3) {
        Grow();
        mask = slots_.size() - 1;
        for (at = hash & mask; slots_[at].location != kEmpty;) at = (at + 1) & mask;
    }
    slots_[at] = Slot{Store(name, length), hash};
    ++used_;
    return 0;
}

std::u16string NameCountMap::Number(const std::u16string& name) {
    const uint32_t count = Count(name.data(), name.size());
    return count == 0 ? name : WithNumber(name, count);
}

std::u16string NameCountMap::WithNumber(const std::u16string& name, uint32_t count) {
    std::u16string number;
    for (char c : std::to_string(count)) number += char16_t(c);
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos) return name + u"," + number;
    return name.substr(0, dot) + u"," + number + name.substr(dot);
}
