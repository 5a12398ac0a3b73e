// Creates the missing directories of a path, one level at a time.
#pragma once

#include <string>

// Whether directory exists when this returns. An existing plain file on the way answers false; a
// reparse point counts as a directory.
bool CreateDirectoryChain(const std::u16string& directory);
