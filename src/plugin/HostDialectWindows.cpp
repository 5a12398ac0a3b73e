// Windows hosts: DOS time stamps in local time, the attribute bits and the names as listed.
#include <cstring>

#include "archive/DosTime.h"
#include "plugin/HostDialect.h"

int32_t HostFileTime(uint64_t lastWriteTime) { return int32_t(DosTimeFromFileTime(lastWriteTime)); }

int32_t HostFileAttributes(uint32_t attributes) { return int32_t(attributes); }

void WriteHostEntryName(std::u16string_view name, size_t length, bool /*backslash*/, unsigned char* field) {
    std::memcpy(field, name.data(), length * sizeof(char16_t));
}

bool HostLendsDialogsAfterLoad() { return false; }
