// How the host reads the meaning of a header record. One implementation per family of hosts:
// HostDialectWindows.cpp (DOS time stamps, Windows attribute bits, names as listed) and
// HostDialectUnix.cpp (Unix time, st_mode, '/' between the parts of a name).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// FileTime for an entry's last-write time (FILETIME, UTC; 0 when it has none).
int32_t HostFileTime(uint64_t lastWriteTime);
// FileAttr for an entry's Windows attribute bits.
int32_t HostFileAttributes(uint32_t attributes);
// Writes FileName for an entry's listed name (its first length units) to field, which may be
// unaligned. backslash false promises that the name holds no '\\'.
void WriteHostEntryName(std::u16string_view name, size_t length, bool backslash, unsigned char* field);
// Whether the host lends its dialogs only after loading the plug-in (ExtensionInitialize), so
// that a failure report found at load time has to wait for them.
bool HostLendsDialogsAfterLoad();
