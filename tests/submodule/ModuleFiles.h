// Text and file helpers of the test sub-module: UTF conversions, the library's own path and
// whole-file reads and writes through the platform's wide-path calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "modules/SubModuleContract.h"

namespace testmodule {

#if defined(_WIN32)
using Wide = std::wstring;  // SM_WCHAR is wchar_t here, so these go straight to the W calls
#else
using Wide = std::u16string;
#endif

Wide WideFrom(const SM_WCHAR* text);  // zero-terminated; null gives ""
std::string Utf8(const Wide& text);
Wide FromUtf8(const std::string& text);

// The full path of this library file, "" when the platform cannot tell.
Wide OwnLibraryPath();
// A variable of the process environment, "" when unset.
Wide EnvironmentValue(const char* name);

bool ReadWholeFile(const Wide& path, std::string& bytes);
// Safe from every thread of every copy of this module in the process: lines never interleave or overwrite.
void AppendToFile(const Wide& path, const std::string& bytes);

// A file kept open for reading as a raw system handle (HANDLE or descriptor), so that tests can
// make a module close it never or twice. -1 when it cannot be opened.
intptr_t OpenHeldFile(const Wide& path);
void CloseHeldFile(intptr_t file);

// A file written from scratch (created or truncated).
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Close(); }

    bool Create(const Wide& path);
    bool Write(const char* data, size_t size);
    bool Close();  // true when nothing was open or it closed cleanly

private:
    void* file_ = nullptr;  // HANDLE on Windows, FILE* elsewhere
};

}  // namespace testmodule
