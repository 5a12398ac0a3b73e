// The formats sub-module: Morvane's sub-module contract (src/modules/SubModuleContract.h) on top
// of libarchive, for ZIP, 7z, RAR, ISO 9660, CAB, cpio, xar, ar, LHA, WARC and TAR, also inside
// gzip, bzip2, xz, lzma, lzip, zstd, lz4, compress and uuencode, and RPM packages.
//  - LoadSubModule reads the settings (see ModuleSettings.h) and checks them with libarchive;
//    they are the only global state and are not written again until UnloadSubModule;
//  - every container has a libarchive reader of its own (Container.h), so containers can be
//    used on different threads at once;
//  - no C++ exception leaves an operation.
#include <memory>
#include <string>

#include "Container.h"
#include "ModuleSettings.h"
#include "SystemAccess.h"
#include "modules/SubModuleContract.h"

#if defined(_WIN32)
#define FORMATS_EXPORT  // exported undecorated through formats.def
#else
#define FORMATS_EXPORT __attribute__((visibility("default")))
#endif

using namespace formats;

namespace {

// Written by LoadSubModule before any container exists, read-only afterwards.
const ModuleSettings* moduleSettings = nullptr;

std::u16string FromContract(const SM_WCHAR* text) {
    std::u16string result;
    if (text)
        for (; *text; ++text) result += char16_t(*text);
    return result;
}

int32_t SM_CALL OpenArchive(OpenRequest request, ContainerHandle* handle, void* /*owner*/) {
    try {
        if (!handle || !request.ArchivePath || !moduleSettings) return SM_OPEN_NOT_MINE;
        TextLocaleScope locale;
        std::unique_ptr<Container> container;
        const int32_t answer = Container::Open(FromContract(request.ArchivePath), request.Password, *moduleSettings, container);
        if (answer == SM_OPEN_OK) *handle = container.release();
        return answer;
    } catch (...) {
        return SM_OPEN_NOT_MINE;
    }
}

int32_t SM_CALL CloseArchive(ContainerHandle handle) {
    try {
        TextLocaleScope locale;
        delete static_cast<Container*>(handle);
    } catch (...) {
    }
    return 1;
}

int32_t SM_CALL ReadArchiveEntry(ContainerHandle handle, int32_t index, EntryInfo* entry) {
    try {
        if (!handle || !entry) return SM_ENTRY_ERROR;
        TextLocaleScope locale;
        return static_cast<Container*>(handle)->ReadEntry(index, *entry);
    } catch (...) {
        return SM_ENTRY_ERROR;
    }
}

int32_t SM_CALL ExtractArchiveEntry(ContainerHandle handle, ExtractRequest request) {
    try {
        if (!handle) return kExtractImpossible;
        TextLocaleScope locale;
        return static_cast<Container*>(handle)->Extract(request);
    } catch (...) {
        return kExtractImpossible;
    }
}

// Nothing to prepare: the first entry was read when the archive was opened.
int32_t SM_CALL PrepareArchive(ContainerHandle /*handle*/) { return 1; }

}  // namespace

extern "C" FORMATS_EXPORT int32_t SM_CALL LoadSubModule(SubModuleInterface* Interface) {
    if (!Interface || moduleSettings) return 0;
    try {
        std::unique_ptr<ModuleSettings> settings(new ModuleSettings);
        std::string problem;
        // A setting that cannot be used refuses the module, so that Morvane reports it instead
        // of the module guessing.
        if (!ParseSettings(reinterpret_cast<const char16_t*>(Interface->SettingsText), *settings, problem) ||
            !IsUsableCodePage(settings->codePage, settings->charset) || !PrepareSystemAccess())
            return 0;
        bool usable = false;
        {
            TextLocaleScope locale;
            usable = CheckReaderSettings(*settings, problem);
        }
        if (!usable) {
            ReleaseSystemAccess();
            return 0;
        }
        moduleSettings = settings.release();
    } catch (...) {
        return 0;
    }
    Interface->Version = SM_INTERFACE_VERSION;
    Interface->OpenProc = OpenArchive;
    Interface->CloseProc = CloseArchive;
    Interface->ReadEntryProc = ReadArchiveEntry;
    Interface->ExtractProc = ExtractArchiveEntry;
    Interface->PrepareProc = PrepareArchive;
    return 1;
}

extern "C" FORMATS_EXPORT int32_t SM_CALL UnloadSubModule(void) {
    delete moduleSettings;
    moduleSettings = nullptr;
    ReleaseSystemAccess();
    return 1;
}
