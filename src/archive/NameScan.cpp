#include "archive/NameScan.h"

#include <cstring>

namespace {

constexpr uint64_t kOnes = 0x0001000100010001ull;
constexpr uint64_t kHighs = 0x8000800080008000ull;
constexpr uint64_t kBackslashes = 0x005C005C005C005Cull;
constexpr uint64_t kStart = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kStep = 0xFF51AFD7ED558CCDull;

// Whether one of the four units is zero (exact: no false answers either way).
bool HasZeroUnit(uint64_t four) { return ((four - kOnes) & ~four & kHighs) != 0; }

// Two operations a word; Finish mixes the bits that the multiplications left in the high half.
uint64_t Step(uint64_t hash, uint64_t four) { return (hash + four) * kStep; }

// Whole words first, then the units after the last of them, then the length: the same hash
// whether the end was found by a zero or given.
uint32_t Finish(uint64_t hash, const char16_t* tail, size_t units, size_t length) {
    for (size_t i = 0; i < units; ++i) hash = (hash + tail[i]) * kStep;
    hash ^= length;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ull;
    hash ^= hash >> 29;
    return uint32_t(hash >> 32);
}

}  // namespace

uint32_t NameHash(const char16_t* name, size_t length) {
    uint64_t hash = kStart;
    size_t at = 0;
    for (; at + 4 <= length; at += 4) {
        uint64_t four;
        std::memcpy(&four, name + at, sizeof four);
        hash = Step(hash, four);
    }
    return Finish(hash, name + at, length - at, length);
}

NameScan ScanName(const char16_t* field, size_t capacity) {
    uint64_t hash = kStart;
    uint64_t backslashes = 0;
    size_t at = 0;
    for (; at + 4 <= capacity; at += 4) {
        uint64_t four;
        std::memcpy(&four, field + at, sizeof four);
        if (HasZeroUnit(four)) break;
        const uint64_t marked = four ^ kBackslashes;  // a backslash becomes a zero unit
        backslashes |= (marked - kOnes) & ~marked & kHighs;
        hash = Step(hash, four);
    }
    size_t end = at;
    while (end < capacity && field[end] != 0) {
        if (field[end] == u'\\') backslashes = 1;
        ++end;
    }
    return NameScan{end, Finish(hash, field + at, end - at, end), backslashes != 0};
}
