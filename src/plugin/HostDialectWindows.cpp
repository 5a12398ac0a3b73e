// Windows hosts: DOS time stamps in local time, the attribute bits and the names as listed.
#include "archive/DosTime.h"
#include "plugin/HostDialect.h"

int32_t HostFileTime(uint64_t lastWriteTime) { return int32_t(DosTimeFromFileTime(lastWriteTime)); }

int32_t HostFileAttributes(uint32_t attributes) { return int32_t(attributes); }

std::u16string HostEntryName(const std::u16string& name) { return name; }

bool HostLendsDialogsAfterLoad() { return false; }
