// The ANSI header record, filled from a wide one.
#pragma once

#include "plugin/PackerInterface.h"

// Copies names (cut to fit the 260-byte fields on a character boundary), the low halves of the
// sizes, FileCRC, FileTime and FileAttr. Other fields keep what the host wrote.
void CopyToAnsiHeader(const tHeaderDataExW& wide, tHeaderData& ansi);
