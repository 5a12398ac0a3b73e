// Reading an entry's name as a module wrote it, in one pass four units at a time: its length, the
// hash the numbering map files it under and whether it holds a backslash. Listing does this once
// per entry of archives with millions of them.
#pragma once

#include <cstddef>
#include <cstdint>

struct NameScan {
    size_t length;
    uint32_t hash;   // NameHash(name, length)
    bool backslash;  // whether a '\\' is among its units
};

// The name in field up to its first zero unit, at most capacity units.
NameScan ScanName(const char16_t* field, size_t capacity);
// The hash of the length units at name.
uint32_t NameHash(const char16_t* name, size_t length);
