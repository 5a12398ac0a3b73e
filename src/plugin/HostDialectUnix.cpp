// Hosts on Unix systems (Double Commander): FileTime is a Unix time in UTC, FileAttr a st_mode
// and '/' separates the parts of a name.
#include <cstring>
#include <limits>

#include "plugin/HostDialect.h"

namespace {

// The st_mode values of the host's system (the same on every Unix).
constexpr uint32_t kModeDirectory = 0040000;
constexpr uint32_t kModeRegular = 0100000;
constexpr uint32_t kModeSymbolicLink = 0120000;
constexpr uint32_t kWriteBits = 0222;

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000;

}  // namespace

namespace unix_hosts {

int32_t FileTime(uint64_t lastWriteTime) {
    if (lastWriteTime == 0) return 0;
    // Past the year 30828 a FILETIME no longer fits the signed arithmetic below.
    if (lastWriteTime > uint64_t(std::numeric_limits<int64_t>::max())) return std::numeric_limits<int32_t>::max();
    // Whole seconds, rounded down also before 1970; a 32-bit time_t field holds 1901 to 2038.
    const int64_t units = int64_t(lastWriteTime) - kUnixEpochAsFileTime;
    int64_t seconds = units / kFileTimeUnitsPerSecond;
    if (units % kFileTimeUnitsPerSecond < 0) --seconds;
    if (seconds > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (seconds < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return int32_t(seconds);
}

int32_t FileAttributes(uint32_t attributes) {
    uint32_t mode = (attributes & kAttributeDirectory)      ? kModeDirectory | 0755
                    : (attributes & kAttributeReparsePoint) ? kModeSymbolicLink | 0777
                                                            : kModeRegular | 0644;
    // A link's own permission bits mean nothing on Unix: read-only speaks of its target.
    if ((attributes & kAttributeReadOnly) && (mode & 0170000) != kModeSymbolicLink) mode &= ~kWriteBits;
    return int32_t(mode);
}

void WriteEntryName(std::u16string_view name, size_t length, bool backslash, unsigned char* field) {
    std::memcpy(field, name.data(), length * sizeof(char16_t));
    if (!backslash) return;
    // Sub-modules are portable and may separate with '\\'; a Unix host knows only '/'.
    for (size_t at = name.find(u'\\'); at < length; at = name.find(u'\\', at + 1)) {
        const char16_t slash = u'/';
        std::memcpy(field + at * sizeof(char16_t), &slash, sizeof slash);
    }
}

}  // namespace unix_hosts
