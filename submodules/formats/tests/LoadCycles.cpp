// Loads and frees formats.dll many times in one process, opening an archive each time, and
// checks that no thread-local slot stays taken: a process has 1,088 of them, and a module that
// kept one per load (as the thread library of the C++ runtime does once anything locks through
// it) makes the process abort after about a thousand cycles.
//   formats_load_cycles MODULE ARCHIVE CYCLES
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "modules/SubModuleContract.h"

namespace {

std::wstring Wide(const char* text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], length);
    result.resize(size_t(length) - 1);
    return result;
}

// The lowest thread-local slot that is free now.
DWORD FirstFreeSlot() {
    const DWORD slot = TlsAlloc();
    TlsFree(slot);
    return slot;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: formats_load_cycles MODULE ARCHIVE CYCLES\n");
        return 2;
    }
    const std::wstring module = Wide(argv[1]);
    const std::wstring archive = Wide(argv[2]);
    // Under an emulator a load costs a hundred times more; a slot leaked a load shows after 300.
    const int cycles = std::getenv("MORVANE_UNDER_EMULATION") ? std::min(std::atoi(argv[3]), 300) : std::atoi(argv[3]);
    const SM_WCHAR noSettings[2] = {0, 0};
    const DWORD before = FirstFreeSlot();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        HMODULE library = LoadLibraryW(module.c_str());
        if (!library) {
            std::printf("FAIL: cycle %d: the module does not load (error %lu)\n", cycle, GetLastError());
            return 1;
        }
        auto load = reinterpret_cast<LoadSubModuleFunction>(reinterpret_cast<void*>(GetProcAddress(library, "LoadSubModule")));
        auto unload = reinterpret_cast<UnloadSubModuleFunction>(reinterpret_cast<void*>(GetProcAddress(library, "UnloadSubModule")));
        SubModuleInterface iface{};
        iface.SettingsText = noSettings;
        if (!load || !unload || !load(&iface)) {
            std::printf("FAIL: cycle %d: LoadSubModule refused\n", cycle);
            return 1;
        }
        OpenRequest request{reinterpret_cast<const SM_WCHAR*>(archive.c_str()), nullptr, 0, 0};
        ContainerHandle handle = nullptr;
        EntryInfo entry{};
        const bool listed = iface.OpenProc(request, &handle, nullptr) == SM_OPEN_OK &&
                            iface.ReadEntryProc(handle, 0, &entry) == SM_ENTRY_OK;
        if (handle) iface.CloseProc(handle);
        unload();
        FreeLibrary(library);
        if (!listed) {
            std::printf("FAIL: cycle %d: the archive was not listed\n", cycle);
            return 1;
        }
    }
    const DWORD after = FirstFreeSlot();
    std::printf("%d load/open/free cycles; the first free thread-local slot was %lu before and %lu after\n", cycles,
                before, after);
    std::printf(after == before ? "PASS: no thread-local slot stays taken\n" : "FAIL: thread-local slots stay taken\n");
    return after == before ? 0 : 1;
}
