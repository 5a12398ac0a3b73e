// The sevenzip sub-module: Morvane's sub-module contract (src/modules/SubModuleContract.h) on top
// of 7-Zip's format library (7z.dll / 7z.so beside the module), for 7z with encryption, split
// volumes, WIM, virtual disks and their file systems, installers, ISO, UDF, CAB, ARJ and more.
//  - LoadSubModule reads the settings (see ModuleSettings.h) and loads 7-Zip's library from the
//    module's own folder; both are the only global state and are not written again until
//    UnloadSubModule;
//  - every container has 7-Zip archive objects of its own (Container.h), so containers can be
//    used on different threads at once;
//  - no C++ exception leaves an operation.
#include <memory>
#include <string>

#include "Container.h"
#include "FormatLibrary.h"
#include "ModuleSettings.h"
#include "SystemAccess.h"
#include "modules/SubModuleContract.h"

#if defined(_WIN32)
#define SEVENZIP_EXPORT  // exported undecorated through sevenzip.def
#else
#define SEVENZIP_EXPORT __attribute__((visibility("default")))
#endif

using namespace sevenzip;

namespace {

// Written by LoadSubModule before any container exists, read-only afterwards.
const FormatLibrary* formatLibrary = nullptr;
const ModuleSettings* moduleSettings = nullptr;

std::u16string FromContract(const SM_WCHAR* text) {
    std::u16string result;
    if (text)
        for (; *text; ++text) result += char16_t(*text);
    return result;
}

int32_t SM_CALL OpenArchive(OpenRequest request, ContainerHandle* handle, void* /*owner*/) {
    try {
        if (!handle || !request.ArchivePath || !formatLibrary) return SM_OPEN_NOT_MINE;
        std::unique_ptr<Container> container;
        const int32_t answer =
            Container::Open(FromContract(request.ArchivePath), request.Password, *formatLibrary, *moduleSettings, container);
        if (answer == SM_OPEN_OK) *handle = container.release();
        return answer;
    } catch (...) {
        return SM_OPEN_NOT_MINE;
    }
}

int32_t SM_CALL CloseArchive(ContainerHandle handle) {
    try {
        delete static_cast<Container*>(handle);
    } catch (...) {
    }
    return 1;
}

// Morvane forgets a container whose preparation failed without closing it: it is released here.
int32_t SM_CALL PrepareArchive(ContainerHandle handle) {
    auto* container = static_cast<Container*>(handle);
    try {
        if (container && container->Prepare()) return 1;
    } catch (...) {
    }
    try {
        delete container;
    } catch (...) {
    }
    return 0;
}

int32_t SM_CALL ReadArchiveEntry(ContainerHandle handle, int32_t index, EntryInfo* entry) {
    try {
        if (!handle || !entry) return SM_ENTRY_ERROR;
        return static_cast<Container*>(handle)->ReadEntry(index, *entry);
    } catch (...) {
        return SM_ENTRY_ERROR;
    }
}

int32_t SM_CALL ExtractArchiveEntry(ContainerHandle handle, ExtractRequest request) {
    try {
        if (!handle) return kExtractImpossible;
        return static_cast<Container*>(handle)->Extract(request);
    } catch (...) {
        return kExtractImpossible;
    }
}

}  // namespace

extern "C" SEVENZIP_EXPORT int32_t SM_CALL LoadSubModule(SubModuleInterface* Interface) {
    if (!Interface || moduleSettings) return 0;
    try {
        std::unique_ptr<ModuleSettings> settings(new ModuleSettings);
        std::string problem;
        // A setting that cannot be used refuses the module, so that Morvane reports it instead
        // of the module guessing.
        if (!ParseSettings(reinterpret_cast<const char16_t*>(Interface->SettingsText), *settings, problem)) return 0;
        std::unique_ptr<FormatLibrary> library = FormatLibrary::Load(ModuleFolder(), problem);
        if (!library || !NamesAreKnown(*settings, *library, problem)) return 0;
        formatLibrary = library.release();
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

extern "C" SEVENZIP_EXPORT int32_t SM_CALL UnloadSubModule(void) {
    delete moduleSettings;
    moduleSettings = nullptr;
    delete formatLibrary;
    formatLibrary = nullptr;
    return 1;
}
