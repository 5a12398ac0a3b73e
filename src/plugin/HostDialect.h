// How the host reads the meaning of a header record. There are two families of hosts; both are
// built on every system so that each is tested everywhere, and this_host names the one the
// plug-in serves here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/PackerInterface.h"

// Windows hosts: DOS time stamps in local time, the attribute bits and the names as listed
// (HostDialectWindows.cpp).
namespace windows_hosts {
// FileTime for an entry's last-write time (FILETIME, UTC; 0 when it has none).
int32_t FileTime(uint64_t lastWriteTime);
// FileAttr for an entry's Windows attribute bits.
int32_t FileAttributes(uint32_t attributes);
// Writes FileName for an entry's listed name (its first length units) to field, which may be
// unaligned. backslash false promises that the name holds no '\\'.
void WriteEntryName(std::u16string_view name, size_t length, bool backslash, unsigned char* field);
// Whether the host lends its dialogs only after loading the plug-in (ExtensionInitialize), so
// that a failure report found at load time has to wait for them.
constexpr bool kLendsDialogsAfterLoad = false;
}  // namespace windows_hosts

// Hosts on Unix systems (Double Commander): Unix time, st_mode and '/' between the parts of a
// name (HostDialectUnix.cpp). The functions mean what windows_hosts' do.
namespace unix_hosts {
int32_t FileTime(uint64_t lastWriteTime);
int32_t FileAttributes(uint32_t attributes);
void WriteEntryName(std::u16string_view name, size_t length, bool backslash, unsigned char* field);
constexpr bool kLendsDialogsAfterLoad = true;
}  // namespace unix_hosts

#if defined(PK_UNIX_HOST)
namespace this_host = unix_hosts;
#else
namespace this_host = windows_hosts;
#endif
