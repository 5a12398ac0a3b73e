// The fifteen exported names of the packer plug-in interface. Each checks its handle and
// converts ANSI text, then hands the work to the ArchiveObject. No exception leaves here: each
// export that can allocate catches everything and answers the interface's own failure value.

#include "archive/ArchiveObject.h"
#include "plugin/AnsiHeader.h"
#include "plugin/CodePages.h"
#include "plugin/HeaderRecord.h"
#include "plugin/HostDialogs.h"
#include "plugin/PackerInterface.h"
#include "plugin/PluginState.h"

#if defined(_WIN32)
#define PK_EXPORT extern "C"  // exported by name through Morvane.def
#else
#define PK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

bool AskUser(char* buffer, int32_t capacity) { return AskPasswordOfUser(Plugin().pluginInstance, buffer, capacity); }

void ReportHostProgress(const HostProgress& progress, int32_t amount) {
    if (progress.wide) reinterpret_cast<tProcessDataProcW>(progress.wide)(nullptr, amount);
    else if (progress.narrow) reinterpret_cast<tProcessDataProc>(progress.narrow)(nullptr, amount);
}

// A fault is told the user only when the INI file asks for reports; otherwise the result code
// says enough.
void ReportFault(const std::u16string& text) {
    if (Plugin().verboseModuleLoad != 0) ShowReportNow(text, u"Morvane: a module faulted");
}

const ArchiveEnvironment& Environment() {
    static const ArchiveEnvironment environment{&Plugin().registry, &Plugin().passwords,
                                                &Plugin().useExtensionFilters, AskUser, ReportHostProgress,
                                                ReportFault};
    return environment;
}

// The interface's result code for an extraction answer of a sub-module.
int ExtractionResult(int32_t answer) {
    switch (answer) {
        case 0: return 0;
        case 1: return E_EWRITE;
        case 2: return E_EREAD;
        case 3: return E_BAD_DATA;
        default: return E_EOPEN;
    }
}

// Null is no archive either: answered like -1 instead of crashing.
ArchiveObject* ArchiveOf(PK_HANDLE handle) {
    if (!handle || handle == reinterpret_cast<PK_HANDLE>(UINTPTR_MAX)) return nullptr;
    return static_cast<ArchiveObject*>(handle);
}

const char16_t* Text(const PK_WCHAR* text) { return reinterpret_cast<const char16_t*>(text); }

// What an export that answers a result code answers for a caught exception: the core throws
// nothing but the standard library's allocation failures.
constexpr int kExceptionResult = E_NO_MEMORY;

// Opens path for listing or extraction; null on any failure, out of memory included.
ArchiveObject* OpenWide(const char16_t* path) {
    ReleasePendingReport();
    if (!path) return nullptr;
    try {
        auto archive = std::make_unique<ArchiveObject>(Environment());
        if (!archive->Open(path, true)) return nullptr;
        return archive.release();
    } catch (...) {
        return nullptr;
    }
}

int Probe(const char16_t* path) {
    ReleasePendingReport();
    if (!path) return 0;
    try {
        ArchiveObject archive(Environment());
        const bool opened = archive.Open(path, false);
        archive.Reset();
        // A module that faults while closing the probe's container does not serve the file.
        return opened && !archive.Faulted() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

}  // namespace

PK_EXPORT PK_HANDLE PK_CALL OpenArchiveW(tOpenArchiveDataW* archiveData) {
    if (!archiveData) return nullptr;
    ArchiveObject* archive = OpenWide(Text(archiveData->ArcName));
    archiveData->OpenResult = archive ? 0 : E_NOT_SUPPORTED;
    return archive;
}

PK_EXPORT PK_HANDLE PK_CALL OpenArchive(tOpenArchiveData* archiveData) {
    if (!archiveData) return nullptr;
    ArchiveObject* archive = nullptr;
    try {
        std::unique_ptr<std::u16string> path = AnsiToWide(archiveData->ArcName);
        if (path) archive = OpenWide(path->c_str());
    } catch (...) {
    }
    archiveData->OpenResult = archive ? 0 : E_NOT_SUPPORTED;
    return archive;
}

PK_EXPORT int PK_CALL CanYouHandleThisFileW(PK_WCHAR* fileName) { return Probe(Text(fileName)); }

PK_EXPORT int PK_CALL CanYouHandleThisFile(char* fileName) {
    try {
        std::unique_ptr<std::u16string> path = AnsiToWide(fileName);
        return path ? Probe(path->c_str()) : 0;
    } catch (...) {
        return 0;
    }
}

PK_EXPORT int PK_CALL ReadHeaderExW(PK_HANDLE handle, tHeaderDataExW* headerData) {
    ArchiveObject* archive = ArchiveOf(handle);
    if (!archive || !headerData) return E_EOPEN;
    try {
        const int32_t answer = archive->ListNextEntry();
        if (answer == 0) return E_BAD_ARCHIVE;
        if (answer == 2) return E_END_ARCHIVE;
        FillHeaderRecord(archive->Listed(), *headerData);
        return 0;
    } catch (...) {
        return kExceptionResult;
    }
}

PK_EXPORT int PK_CALL ReadHeader(PK_HANDLE handle, tHeaderData* headerData) {
    if (!headerData) return E_EOPEN;
    tHeaderDataExW wide{};
    const int result = ReadHeaderExW(handle, &wide);
    // Only a filled wide record has anything to copy.
    if (result != 0) return result;
    try {
        CopyToAnsiHeader(wide, *headerData);
    } catch (...) {
        return kExceptionResult;
    }
    return result;
}

PK_EXPORT int PK_CALL ProcessFileW(PK_HANDLE handle, int operation, PK_WCHAR* destPath, PK_WCHAR* destName) {
    ArchiveObject* archive = ArchiveOf(handle);
    if (!archive) return E_EOPEN;
    // A container given up after a fault is bad data, whatever is asked of it.
    if (archive->Faulted()) return E_BAD_DATA;
    if (operation == PK_SKIP || operation == PK_TEST) return 0;
    if (!destName) return E_ECREATE;
    try {
        return ExtractionResult(archive->ExtractCurrentEntryTo(Text(destPath), Text(destName)));
    } catch (...) {
        return kExceptionResult;
    }
}

PK_EXPORT int PK_CALL ProcessFile(PK_HANDLE handle, int operation, char* destPath, char* destName) {
    try {
        std::unique_ptr<std::u16string> path = AnsiToWide(destPath);
        std::unique_ptr<std::u16string> name = AnsiToWide(destName);
        return ProcessFileW(handle, operation, path ? reinterpret_cast<PK_WCHAR*>(&(*path)[0]) : nullptr,
                            name ? reinterpret_cast<PK_WCHAR*>(&(*name)[0]) : nullptr);
    } catch (...) {
        return kExceptionResult;
    }
}

PK_EXPORT int PK_CALL CloseArchive(PK_HANDLE handle) {
    delete ArchiveOf(handle);
    return 0;
}

PK_EXPORT void PK_CALL SetChangeVolProc(PK_HANDLE /*handle*/, tChangeVolProc /*callback*/) {}

#if !defined(_WIN32)
// On Windows Morvane.def makes this name an alias of SetChangeVolProc.
PK_EXPORT void PK_CALL SetChangeVolProcW(PK_HANDLE handle, tChangeVolProcW /*callback*/) {
    SetChangeVolProc(handle, nullptr);
}
#endif

PK_EXPORT void PK_CALL SetProcessDataProc(PK_HANDLE handle, tProcessDataProc callback) {
    if (ArchiveObject* archive = ArchiveOf(handle)) archive->progress.narrow = reinterpret_cast<void (*)()>(callback);
}

PK_EXPORT void PK_CALL SetProcessDataProcW(PK_HANDLE handle, tProcessDataProcW callback) {
    if (ArchiveObject* archive = ArchiveOf(handle)) archive->progress.wide = reinterpret_cast<void (*)()>(callback);
}

PK_EXPORT int PK_CALL GetPackerCaps() { return PK_CAPS_MULTIPLE | PK_CAPS_BY_CONTENT; }

PK_EXPORT int PK_CALL GetBackgroundFlags() { return BACKGROUND_UNPACK; }

#if defined(PK_UNIX_HOST)
// Unix hosts lend their dialogs this way once the plug-in is loaded.
PK_EXPORT void PK_CALL ExtensionInitialize(tExtensionStartupInfo* startupInfo) {
    try {
        AdoptHostDialogs(startupInfo);
    } catch (...) {
    }
}
#endif
