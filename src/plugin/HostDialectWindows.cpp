// Windows hosts: DOS time stamps in local time, the attribute bits and the names as listed.
#include <cstring>

#include "archive/DosTime.h"
#include "plugin/HostDialect.h"

namespace windows_hosts {

int32_t FileTime(uint64_t lastWriteTime) { return int32_t(DosTimeFromFileTime(lastWriteTime)); }

int32_t FileAttributes(uint32_t attributes) { return int32_t(attributes); }

void WriteEntryName(std::u16string_view name, size_t length, bool /*backslash*/, unsigned char* field) {
    std::memcpy(field, name.data(), length * sizeof(char16_t));
}

}  // namespace windows_hosts
