// The host's wide header record, filled from a listed entry in the host's dialect.
#pragma once

#include "archive/ListedEntry.h"
#include "plugin/PackerInterface.h"

// Writes names (at most 1023 code units and a terminator), sizes, FileTime, FileAttr, zero
// HostOS, FileCRC and Reserved. Flags, UnpVer, Method and the comment fields keep what the host
// wrote; nothing past the record's own size is touched.
void FillHeaderRecord(const ListedEntry& entry, tHeaderDataExW& header);
