// The plug-in loaded and freed 10,000 times in one process, without and with sub-modules in its
// INI file, as a test program or a host that reloads plug-ins does: every thread-local slot that
// a load takes must come back, or the process runs out of its 1,088 slots and is stopped.
#if defined(_WIN32)
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/ModuleFolder.h"
#include "support/PluginUnderTest.h"

#ifndef SUBMODULE_FILES
#error "the build names the sub-modules that ship, separated by |"
#endif

using namespace testing_support;

namespace {

constexpr int kCycles = 10000;
constexpr int kEarlyCheck = 100;  // a leak shows long before the slots run out

// Under an emulator a load costs a hundred times more; the free slots are counted, so a leak of
// one slot a load shows as plainly after 300 loads.
constexpr int kEmulatedCycles = 300;

// MORVANE_LOAD_CYCLES asks for fewer cycles in quick runs while the code is being changed.
int Cycles() {
    const char* asked = std::getenv("MORVANE_LOAD_CYCLES");
    const int cycles = asked && std::atoi(asked) > 0 ? std::atoi(asked) : kCycles;
    return std::getenv("MORVANE_UNDER_EMULATION") ? std::min(cycles, kEmulatedCycles) : cycles;
}

// Slots the process can still take: all of them taken, counted and given back.
size_t FreeSlots() {
    std::vector<DWORD> taken;
    for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(slot);
    for (DWORD slot : taken) TlsFree(slot);
    return taken.size();
}

// The files of a "|"-separated list.
std::vector<fs::path> Files(const std::string& list) {
    std::vector<fs::path> files;
    for (size_t start = 0; start < list.size();) {
        const size_t bar = std::min(list.find('|', start), list.size());
        files.push_back(fs::u8path(list.substr(start, bar - start)));
        start = bar + 1;
    }
    return files;
}

bool Loaded(const fs::path& library) { return GetModuleHandleW(library.wstring().c_str()) != nullptr; }

// Loads and frees the plug-in in folder; the modules must be bound while it is loaded and gone after.
void Cycle(const ModuleFolder& folder, const std::vector<fs::path>& modules) {
    const fs::path plugin = folder.folder.Path() / fs::u8path(PLUGIN_FILE).filename();
    fs::copy_file(fs::u8path(PLUGIN_FILE), plugin);
    // The system libraries that the plug-in imports stay loaded, as in a file manager, so that the
    // cycles measure the plug-in alone; the first load pays what the system takes once.
    for (const wchar_t* system : {L"user32.dll", L"shlwapi.dll"}) LoadLibraryW(system);
    FreeLibrary(LoadLibraryW(plugin.wstring().c_str()));
    const size_t before = FreeSlots();
    const int cycles = Cycles();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        HMODULE library = LoadLibraryW(plugin.wstring().c_str());
        ASSERT_NE(library, nullptr) << "load " << cycle << " failed with error " << GetLastError();
        for (const fs::path& module : modules) ASSERT_TRUE(Loaded(module)) << module << " in load " << cycle;
        FreeLibrary(library);
        for (const fs::path& module : modules) ASSERT_FALSE(Loaded(module)) << module << " after load " << cycle;
        if (cycle == kEarlyCheck) {
            ASSERT_EQ(FreeSlots(), before) << "thread-local slots lost in " << cycle << " loads";
        }
    }
    EXPECT_EQ(FreeSlots(), before) << "thread-local slots lost in " << cycles << " loads";
}

TEST(LoadCycles, WithoutSubModules) {
    ModuleFolder folder;
    Cycle(folder, {});
}

TEST(LoadCycles, WithEverySubModule) {
    ModuleFolder folder;
    // The test module throws and catches a C++ exception while it loads, as any C++ module may.
    folder.AddModule("cpp");
    std::string ini = "[Modules]\ncpp=" + folder.LibraryName("cpp") + "\n";
    std::vector<fs::path> modules = {folder.folder.Path() / folder.LibraryName("cpp")};
    // The libraries that ship beside the modules lie beside them; they may stay loaded.
    for (const fs::path& companion : Files(COMPANION_FILES)) fs::copy_file(companion, folder.folder.Path() / companion.filename());
    for (const fs::path& shipped : Files(SUBMODULE_FILES)) {
        const fs::path copy = folder.folder.Path() / shipped.filename();
        fs::copy_file(shipped, copy);
        ini += shipped.stem().u8string() + "=" + shipped.filename().u8string() + "\n";
        modules.push_back(copy);
    }
    folder.WriteIni(PluginUnderTest::IniName(), ini + "[cpp]\nLoadThrows=1\n");
    Cycle(folder, modules);
}

}  // namespace
#endif
