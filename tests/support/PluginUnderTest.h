// The real plug-in library, copied into a test's plug-in folder and loaded as a file manager
// loads it: LoadLibrary on Windows (under Wine), dlopen on Linux.
#pragma once

#include <string>

#include "plugin/PackerInterface.h"
#include "support/ModuleFolder.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace testing_support {

class PluginUnderTest {
public:
    explicit PluginUnderTest(const ModuleFolder& folder);
    ~PluginUnderTest() { Unload(); }
    PluginUnderTest(const PluginUnderTest&) = delete;
    PluginUnderTest& operator=(const PluginUnderTest&) = delete;

    // The INI file name this word size reads.
    static std::string IniName() { return sizeof(void*) == 8 ? "morvane64.ini" : "morvane.ini"; }
    // Whether the host reads a header as a folder: st_mode on Unix hosts, attribute bits elsewhere.
    static bool IsDirectory(const tHeaderDataExW& header) {
#if defined(PK_UNIX_HOST)
        return (header.FileAttr & 0170000) == 040000;
#else
        return (header.FileAttr & 0x10) != 0;
#endif
    }
    void Unload();
    void* Library() const { return library_; }

    // Opens through OpenArchiveW; result receives OpenResult.
    PK_HANDLE Open(const std::u16string& path, int* result = nullptr, int openMode = PK_OM_LIST);
    int Probe(const std::u16string& path);
    tHeaderDataExW NextHeader(PK_HANDLE handle, int* result);

    tOpenArchiveFunction OpenArchive = nullptr;
    tOpenArchiveWFunction OpenArchiveW = nullptr;
    tReadHeaderFunction ReadHeader = nullptr;
    tReadHeaderExWFunction ReadHeaderExW = nullptr;
    tProcessFileFunction ProcessFile = nullptr;
    tProcessFileWFunction ProcessFileW = nullptr;
    tCloseArchiveFunction CloseArchive = nullptr;
    tSetChangeVolProcFunction SetChangeVolProc = nullptr;
    tSetChangeVolProcWFunction SetChangeVolProcW = nullptr;
    tSetProcessDataProcFunction SetProcessDataProc = nullptr;
    tSetProcessDataProcWFunction SetProcessDataProcW = nullptr;
    tGetPackerCapsFunction GetPackerCaps = nullptr;
    tCanYouHandleThisFileFunction CanYouHandleThisFile = nullptr;
    tCanYouHandleThisFileWFunction CanYouHandleThisFileW = nullptr;
    tGetBackgroundFlagsFunction GetBackgroundFlags = nullptr;

private:
    void* library_ = nullptr;
};

// A sub-module that faults is left where it stood: what it had allocated is never freed. The
// leak checker is told so for this thread while the object lives.
struct FaultingModuleLeaksIgnored {
#if defined(__SANITIZE_ADDRESS__)
    FaultingModuleLeaksIgnored() { __lsan_disable(); }
    ~FaultingModuleLeaksIgnored() { __lsan_enable(); }
#else
    FaultingModuleLeaksIgnored() {}  // a variable of it is used, for its lifetime
#endif
};

// Wide text as the interface's WCHAR pointer.
inline PK_WCHAR* W(std::u16string& text) { return reinterpret_cast<PK_WCHAR*>(&text[0]); }
inline std::u16string FromW(const PK_WCHAR* text) { return std::u16string(reinterpret_cast<const char16_t*>(text)); }

}  // namespace testing_support
