// Eight threads probe, open, list, extract and close different archives at once: plain ones,
// password-protected ones whose passwords are remembered, refused ones, ones that the module's
// PrepareProc refuses and (on Windows) ones whose first module faults in OpenProc. Every
// container must be closed exactly once and every extracted file must be correct.
//
// Windows (under Wine): the real plug-in library through its exports; the passwords are
// remembered by typing them into the real dialog once before the threads start. Linux (the
// ThreadSanitizer build): the same exports compiled into this program, the passwords
// remembered directly in the plug-in's cache, which has no dialog there.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/Containers.h"
#include "support/ModuleFolder.h"
#include "support/PluginUnderTest.h"

#if defined(_WIN32)
#include <windows.h>

#include "support/WindowDriver.h"
#else
#include <dlfcn.h>

#include "plugin/PluginLifetime.h"
#include "plugin/PluginState.h"

// The exports, compiled into this program.
extern "C" {
PK_HANDLE PK_CALL OpenArchiveW(tOpenArchiveDataW*);
int PK_CALL ReadHeaderExW(PK_HANDLE, tHeaderDataExW*);
int PK_CALL ProcessFileW(PK_HANDLE, int, PK_WCHAR*, PK_WCHAR*);
int PK_CALL CloseArchive(PK_HANDLE);
int PK_CALL CanYouHandleThisFileW(PK_WCHAR*);
}
#endif

#ifndef STRESS_CYCLES
#error "the build sets the cycles per thread"
#endif

using namespace testing_support;

namespace {

constexpr int kThreads = 8;

// The five exports the stress uses, from the library or from this program.
struct Packer {
    tOpenArchiveWFunction OpenArchiveW;
    tReadHeaderExWFunction ReadHeaderExW;
    tProcessFileWFunction ProcessFileW;
    tCloseArchiveFunction CloseArchive;
    tCanYouHandleThisFileWFunction CanYouHandleThisFileW;
};

struct File {
    std::string name;
    std::string content;  // the module writes it 3 times
};

struct Archive {
    std::u16string path;
    bool probed;           // CanYouHandleThisFileW answers 1
    bool opens;            // OpenArchiveW gives a handle
    std::vector<std::string> names;  // what the listing shows, in order
    std::vector<File> files;         // what is extracted, with its content
};

std::string Sep(const std::string& first, const std::string& second) {
#if defined(_WIN32)
    return first + "\\" + second;
#else
    return first + "/" + second;
#endif
}

// Container files of the test module, and what each must give.
std::vector<Archive> MakeArchives(const ModuleFolder& folder, std::vector<std::pair<std::u16string, std::string>>& locked) {
    std::vector<Archive> archives;
    for (int k = 0; k < 4; ++k) {
        const std::string tag = std::to_string(k);
        const std::vector<File> files = {{Sep("dir" + tag, "one.txt"), "first file of " + tag},
                                         {"two-" + tag + ".bin", std::string("\x01\x02\x03\xff", 4) + tag},
                                         {"empty" + tag, ""}};
        std::string lines = "entry\tname=dir" + tag + "\tattr=0x10\n";
        for (const File& file : files)
            lines += "entry\tname=" + file.name + "\tattr=0x20\tcontent=" + file.content + "\tcontent-repeat=3\tprogress=2\n";
        std::vector<std::string> names = {"dir" + tag};
        for (const File& file : files) names.push_back(file.name);

        const std::u16string plain =
            WriteContainer(folder.folder.Path() / ("plain" + tag + ".bin"), "open\t*\t1\n" + lines);
        archives.push_back({plain, true, true, names, files});
        const std::string password = "pw-" + tag;
        const std::u16string secret =
            WriteContainer(folder.folder.Path() / ("locked" + tag + ".bin"), "open\t*\t1\npassword\t" + password + "\n" + lines);
        archives.push_back({secret, true, true, names, files});
        locked.emplace_back(secret, password);
    }
    archives.push_back({WriteContainer(folder.folder.Path() / "refused.bin", "open\t*\t0\n"), false, false, {}, {}});
    archives.push_back(
        {WriteContainer(folder.folder.Path() / "unprepared.bin", "open\t*\t1\nprepare\t0\n"), true, false, {}, {}});
#if defined(_WIN32)
    // Module a faults in OpenProc; module b serves the file.
    archives.push_back({WriteContainer(folder.folder.Path() / "faulting.bin",
                                       "open\ta\tfault\nopen\tb\t1\nentry\tname=kept.txt\tcontent=ok\n"),
                        true, true, {"kept.txt"}, {{"kept.txt", "ok"}}});
#endif
    return archives;
}

std::string Repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

// One cycle on one archive; answers what went wrong, or "" when nothing did.
std::string Cycle(const Packer& packer, const Archive& archive, const fs::path& destination) {
    std::u16string path = archive.path;
    if ((packer.CanYouHandleThisFileW(W(path)) == 1) != archive.probed) return "probe";
    tOpenArchiveDataW open{};
    open.ArcName = W(path);
    PK_HANDLE handle = packer.OpenArchiveW(&open);
    if ((handle != nullptr) != archive.opens) return "open";
    if (!handle) return open.OpenResult == E_NOT_SUPPORTED ? "" : "OpenResult";
    std::string problem;
    size_t listed = 0;
    for (;;) {
        tHeaderDataExW header{};
        const int result = packer.ReadHeaderExW(handle, &header);
        if (result == E_END_ARCHIVE) break;
        if (result != 0 || listed >= archive.names.size() ||
            Utf8(FromW(header.FileName)) != archive.names[listed]) {
            problem = "listing";
            break;
        }
        ++listed;
        for (const File& file : archive.files) {
            if (file.name != Utf8(FromW(header.FileName))) continue;
            // DestPath null and the full target in DestName, as many file managers call it.
            std::u16string target = (destination / fs::u8path(file.name)).u16string();
            if (packer.ProcessFileW(handle, PK_EXTRACT, nullptr, W(target)) != 0) problem = "extract " + file.name;
            else if (ReadFile(destination / fs::u8path(file.name)) != Repeated(file.content, file.name == "kept.txt" ? 1 : 3))
                problem = "content of " + file.name;
        }
        if (!problem.empty()) break;
    }
    if (problem.empty() && listed != archive.names.size()) problem = "listing ended early";
    if (packer.CloseArchive(handle) != 0) problem = "close";
    return problem;
}

// The test module's TestModuleThrowAndCatch in the copy loaded as name.
using ThrowAndCatchFunction = int32_t (*)(int32_t);
ThrowAndCatchFunction ThrowAndCatchIn(const ModuleFolder& folder, const std::string& name) {
    const fs::path library = folder.folder.Path() / folder.LibraryName(name);
#if defined(_WIN32)
    return reinterpret_cast<ThrowAndCatchFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(library.wstring().c_str()), "TestModuleThrowAndCatch")));
#else
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto function = reinterpret_cast<ThrowAndCatchFunction>(handle ? dlsym(handle, "TestModuleThrowAndCatch") : nullptr);
    if (handle) dlclose(handle);
    return function;
#endif
}

// What the test module copies counted: opened, closed, released after a refused PrepareProc, bad closes.
struct Counts {
    int64_t opened = 0, closed = 0, refused = 0, bad = 0;
};

Counts ModuleCounts(const ModuleFolder& folder, const std::string& name) {
    const fs::path library = folder.folder.Path() / folder.LibraryName(name);
    using CountsFunction = void (*)(int64_t*);
#if defined(_WIN32)
    auto counts = reinterpret_cast<CountsFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(library.wstring().c_str()), "TestModuleContainers")));
#else
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    auto counts = reinterpret_cast<CountsFunction>(handle ? dlsym(handle, "TestModuleContainers") : nullptr);
    if (handle) dlclose(handle);
#endif
    Counts result;
    if (!counts) {
        result.bad = -1;
        return result;
    }
    int64_t values[4] = {};
    counts(values);
    result.opened = values[0];
    result.closed = values[1];
    result.refused = values[2];
    result.bad = values[3];
    return result;
}

TEST(Stress, EightThreadsProbeOpenListExtractAndClose) {
    ModuleFolder folder;
    folder.AddModule("a");
    folder.AddModule("b");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\na=" + folder.LibraryName("a") + "\nb=" + folder.LibraryName("b") + "\n");
    std::vector<std::pair<std::u16string, std::string>> locked;
    const std::vector<Archive> archives = MakeArchives(folder, locked);

#if defined(_WIN32)
    PluginUnderTest plugin(folder);
    const Packer packer{plugin.OpenArchiveW, plugin.ReadHeaderExW, plugin.ProcessFileW, plugin.CloseArchive,
                        plugin.CanYouHandleThisFileW};
    for (const auto& entry : locked) {  // typed once, remembered from then on
        PasswordDialogDriver driver({{entry.second, false}});
        std::u16string path = entry.first;
        ASSERT_EQ(plugin.CanYouHandleThisFileW(W(path)), 1);
        ASSERT_EQ(driver.Shown(), 1);
    }
    PasswordDialogDriver unexpected({});  // cancels and counts any dialog from here on
#else
    LoadConfiguration(folder.folder.Directory());
    const Packer packer{OpenArchiveW, ReadHeaderExW, ProcessFileW, CloseArchive, CanYouHandleThisFileW};
    for (const auto& entry : locked) Plugin().passwords.Remember(entry.first, entry.second);
#endif

    std::atomic<int> failures{0};
    std::vector<std::string> firstProblem(kThreads);
    std::vector<std::thread> threads;
#if !defined(_WIN32)
    // Without a dialog on Linux, a ninth thread stands for the users who type new passwords: the
    // cache is written while the others read it.
    std::atomic<bool> done{false};
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            Plugin().passwords.Remember(u"typed-" + U16(std::to_string(i % 5000)), "typed");
            if (i % 7 == 0) Plugin().passwords.Replace(u"typed-0", "retyped");
        }
    });
#endif
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const fs::path destination = folder.folder.Path() / ("out" + std::to_string(t));
            fs::create_directories(destination);
            for (int cycle = 0; cycle < STRESS_CYCLES; ++cycle) {
                const Archive& archive = archives[size_t(t + cycle) % archives.size()];
                const std::string problem = Cycle(packer, archive, destination);
                if (problem.empty()) continue;
                if (failures++ == 0 || firstProblem[size_t(t)].empty())
                    firstProblem[size_t(t)] = Utf8(archive.path) + ": " + problem;
            }
        });
    }
#if defined(_WIN32)
    for (std::thread& thread : threads) thread.join();
#else
    for (size_t t = 1; t < threads.size(); ++t) threads[t].join();
    done = true;
    threads[0].join();
#endif

    EXPECT_EQ(failures.load(), 0);
    for (const std::string& problem : firstProblem) EXPECT_EQ(problem, "");
#if defined(_WIN32)
    EXPECT_EQ(unexpected.Shown(), 0) << "remembered passwords were asked for again";
#endif
    for (const char* name : {"a", "b"}) {
        const Counts counts = ModuleCounts(folder, name);
        EXPECT_EQ(counts.bad, 0) << name;
        EXPECT_EQ(counts.opened, counts.closed + counts.refused) << name;
    }
    const Counts a = ModuleCounts(folder, "a");
    EXPECT_GE(a.opened, int64_t(kThreads) * STRESS_CYCLES / 2);  // the cycles really ran

    // All threads at once throw and catch inside a module: each must see its own exceptions, so
    // each keeps its own exception state (on Windows the one that ExceptionGlobals.cpp keeps).
    const ThrowAndCatchFunction throwAndCatch = ThrowAndCatchIn(folder, "b");
    ASSERT_NE(throwAndCatch, nullptr);
    std::atomic<int> ready{0}, wrongCatches{0};
    std::vector<std::thread> throwers;
    for (int t = 0; t < kThreads; ++t) {
        throwers.emplace_back([&] {
            for (++ready; ready < kThreads;) std::this_thread::yield();
            wrongCatches += throwAndCatch(STRESS_CYCLES * 20);
        });
    }
    for (std::thread& thrower : throwers) thrower.join();
    EXPECT_EQ(wrongCatches.load(), 0) << "a catch saw another thread's exception";
#if !defined(_WIN32)
    OnProcessDetach();
#endif
}

}  // namespace
