// One loaded and bound sub-module: its library, its file masks and its five operations.
#pragma once

#include <string>
#include <vector>

#include "modules/SubModuleContract.h"
#include "platform/Platform.h"

struct ModuleRecord {
    ModuleRecord(std::u16string name, std::u16string file)
        : moduleName(std::move(name)), libraryFile(std::move(file)) {}

    // Cuts a ";"-separated list into masks; empty pieces are dropped, blanks are kept.
    void AddMasks(const char16_t* maskList);
    // A module without masks matches every path.
    bool MatchesMasks(const std::u16string& path) const;

    platform::LibraryHandle library = nullptr;
    std::vector<std::u16string> masks;
    LoadSubModuleFunction loadSubModule = nullptr;
    UnloadSubModuleFunction unloadSubModule = nullptr;
    SubModuleOpenProc OpenProc = nullptr;
    SubModuleCloseProc CloseProc = nullptr;
    SubModuleReadEntryProc ReadEntryProc = nullptr;
    SubModuleExtractProc ExtractProc = nullptr;
    SubModulePrepareProc PrepareProc = nullptr;
    std::u16string moduleName;
    std::u16string libraryFile;
};
