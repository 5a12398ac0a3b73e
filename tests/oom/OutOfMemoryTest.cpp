// Running out of memory at every allocation in turn: loading the sub-modules, opening, listing,
// extracting and closing, at the core and (on Linux, where the plug-in shares this program's
// C++ runtime) through the real exports and the library's start-up. Nothing may escape, no
// container may stay open and no bound module may miss its UnloadSubModule.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "FailingAllocation.h"
#include "ScriptedHost.h"
#include "archive/ArchiveObject.h"
#include "config/IniDocument.h"
#include "modules/ModuleRegistry.h"
#include "support/PluginUnderTest.h"

#ifndef SCRIPTEDMODULE_FILE
#error "the build names the scripted sub-module"
#endif

using namespace testing_support;

namespace {

ScriptedHost host;

}  // namespace

extern "C" SCRIPTED_HOST_EXPORT ScriptedHost* MorvaneScriptedHost() { return &host; }

namespace {

void ResetHost() { host = ScriptedHost(); }

std::string Suffix() { return fs::u8path(SCRIPTEDMODULE_FILE).extension().u8string(); }

// A plug-in folder with three copies of the scripted module, and an INI file that names them and
// a fourth module that is missing.
struct ScriptedFolder {
    ScriptedFolder() {
        for (const char* name : {"m1", "m2", "m3"})
            fs::copy_file(fs::u8path(SCRIPTEDMODULE_FILE), Path() / (name + Suffix()));
        WriteFile(Path() / PluginUnderTest::IniName(),
                  "[Modules]\nm1=m1" + Suffix() + "\nm2=m2" + Suffix() + "\nmissing=missing" + Suffix() +
                      "\nm3=m3" + Suffix() + "\n[Filters]\nm1=*.scr;*.other\nm3=*.scr\n[m2]\nsetting=1\n");
    }
    const fs::path& Path() const { return modules.folder.Path(); }
    std::u16string Directory() const { return modules.folder.Directory(); }
    std::u16string File(const std::string& name) const { return (Path() / name).u16string(); }
    bool ModuleLoaded(const std::string& name) const { return LibraryLoaded(Path() / (name + Suffix())); }
    void ExpectNoModuleLoaded() const {
        for (const char* name : {"m1", "m2", "m3"}) EXPECT_FALSE(ModuleLoaded(name)) << name;
    }

    ModuleFolder modules;
};

// Every container handed out was closed, or released by the module after PrepareProc refused it.
void ExpectContainersBalanced(long nth) {
    EXPECT_EQ(host.opens, host.closes + host.refusals) << "allocation " << nth << " failed";
    EXPECT_EQ(host.badCloses, 0) << "allocation " << nth << " failed";
    EXPECT_EQ(host.strayCalls, 0) << "allocation " << nth << " failed";
}

TEST(OutOfMemory, LoadingModulesRegistersWhatItCanAndReportsTheRest) {
    ScriptedFolder modules;
    IniDocument document;
    ASSERT_TRUE(document.Load(modules.Directory() + U16(PluginUnderTest::IniName())));
    const std::u16string directory = modules.Directory();
    const long runs = oom::ForEachFailingAllocation([&](long nth, auto disarm) {
        ResetHost();
        ModuleRegistry registry;
        std::vector<LoadFailure> failures;
        bool escaped = false;
        try {
            registry.Load(directory, document, failures);
        } catch (...) {
            escaped = true;
        }
        disarm();
        EXPECT_FALSE(escaped) << "allocation " << nth << " failed";
        // Each of the four modules is either registered or reported, and only registered ones are bound.
        EXPECT_EQ(registry.Size() + failures.size(), 4u) << "allocation " << nth << " failed";
        EXPECT_EQ(host.loads, long(registry.Size())) << "allocation " << nth << " failed";
        registry.Unload();
        EXPECT_EQ(host.unloads, host.loads) << "allocation " << nth << " failed";
        modules.ExpectNoModuleLoaded();
    });
    EXPECT_GT(runs, 10);
}

// A password asker that answers like a user who knows it.
bool AnswerSecret(char* buffer, int32_t capacity) {
    if (capacity < 7) return false;
    std::memcpy(buffer, "secret", 7);
    return true;
}

TEST(OutOfMemory, OpeningListingAndExtractingCloseEveryContainer) {
    ScriptedFolder modules;
    IniDocument document;
    ASSERT_TRUE(document.Load(modules.Directory() + U16(PluginUnderTest::IniName())));
    ModuleRegistry registry;
    std::vector<LoadFailure> failures;
    registry.Load(modules.Directory(), document, failures);
    ASSERT_EQ(registry.Size(), 3u);
    const int32_t filtering = 1;
    const TempFolder target;
    const std::u16string destination = target.Directory() + u"out";
    struct Case {
        const char* archive;
        bool prepare;
        bool opens;
    };
    const Case cases[] = {
        {"plain.scr", true, true},        {"plain.scr", false, true},      {"protected.scr", true, true},
        {"protected.scr", false, true},   {"unprepared.scr", true, false}, {"refused.scr", true, false},
    };
    for (const Case& c : cases) {
        const std::u16string path = modules.File(c.archive);
        const long runs = oom::ForEachFailingAllocation([&](long nth, auto disarm) {
            ResetHost();
            PasswordCache passwords;  // fresh, so that every run asks and remembers
            const ArchiveEnvironment environment{&registry, &passwords, &filtering, AnswerSecret};
            bool opened = false;
            int read = -1, extracted = -1;
            try {
                auto archive = std::make_unique<ArchiveObject>(environment);
                opened = archive->Open(path.c_str(), c.prepare);
                if (opened && c.prepare) {
                    for (int i = 0; i < 2 && (read = archive->ListNextEntry()) == 1; ++i) {
                    }
                    extracted = archive->ExtractCurrentEntryTo(destination.c_str(), u"entry");
                    read = archive->ListNextEntry();
                }
            } catch (const std::bad_alloc&) {
            }
            const bool failed = oom::AllocationFailed();
            disarm();
            if (!failed) {
                EXPECT_EQ(opened, c.opens) << c.archive;
                if (opened && c.prepare) {
                    EXPECT_EQ(extracted, 0) << c.archive;
                    EXPECT_EQ(read, 1) << c.archive;
                }
            }
            ExpectContainersBalanced(nth);
        });
        EXPECT_GT(runs, c.opens ? 3 : 0) << c.archive;
    }
}

#if !defined(_WIN32)
// On Windows the plug-in carries its own C++ runtime, which this program cannot make fail.

// Whether call, a series of export calls, let an exception out.
template <typename Call>
bool Escapes(Call call) {
    try {
        call();
        return false;
    } catch (...) {
        return true;
    }
}

bool OneOf(int value, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (value == a) return true;
    return false;
}

TEST(OutOfMemory, NoExceptionLeavesAnExportAndEveryContainerIsClosed) {
    ScriptedFolder modules;
    PluginUnderTest plugin(modules.modules);
    const TempFolder target;
    std::u16string plain = modules.File("plain.scr"), unprepared = modules.File("unprepared.scr");
    std::u16string destination = target.Directory() + u"out", name = u"entry";
    std::u16string refused = modules.File("refused.bin");  // no module claims it
    std::string ansiPlain = Utf8(plain), ansiDestination = Utf8(destination), ansiName = "entry";
    std::string ansiRefused = Utf8(refused);
    const long runs = oom::ForEachFailingAllocation([&](long nth, auto disarm) {
        ResetHost();
        int read = 0, readAnsi = 0, extracted = 0, extractedAnsi = 0, claimed = 0, claimedAnsi = 0;
        const bool escaped = Escapes([&] {
            tOpenArchiveDataW data{};
            data.ArcName = W(plain);
            if (PK_HANDLE handle = plugin.OpenArchiveW(&data)) {
                tHeaderDataExW header{};
                tHeaderData ansiHeader{};
                read = plugin.ReadHeaderExW(handle, &header);
                extracted = plugin.ProcessFileW(handle, PK_EXTRACT, W(destination), W(name));
                readAnsi = plugin.ReadHeader(handle, &ansiHeader);
                extractedAnsi = plugin.ProcessFile(handle, PK_EXTRACT, &ansiDestination[0], &ansiName[0]);
                plugin.CloseArchive(handle);
            }
            plugin.CanYouHandleThisFileW(W(plain));
            plugin.CanYouHandleThisFile(&ansiPlain[0]);
            claimed = plugin.CanYouHandleThisFileW(W(refused));
            claimedAnsi = plugin.CanYouHandleThisFile(&ansiRefused[0]);
            tOpenArchiveData ansiData{};
            ansiData.ArcName = &ansiPlain[0];
            plugin.CloseArchive(plugin.OpenArchive(&ansiData));
            data.ArcName = W(unprepared);
            plugin.CloseArchive(plugin.OpenArchiveW(&data));
        });
        disarm();
        EXPECT_FALSE(escaped) << "allocation " << nth << " failed";
        EXPECT_TRUE(OneOf(read, {0, E_NO_MEMORY})) << read;
        EXPECT_TRUE(OneOf(readAnsi, {0, E_NO_MEMORY})) << readAnsi;
        EXPECT_TRUE(OneOf(extracted, {0, E_NO_MEMORY})) << extracted;
        EXPECT_TRUE(OneOf(extractedAnsi, {0, E_NO_MEMORY})) << extractedAnsi;
        // A probe that ran out of memory claims nothing.
        EXPECT_EQ(claimed, 0) << "allocation " << nth;
        EXPECT_EQ(claimedAnsi, 0) << "allocation " << nth;
        ExpectContainersBalanced(nth);
    });
    EXPECT_GT(runs, 20);
}

TEST(OutOfMemory, StartUpNeverEndsTheHostAndUnloadsEveryBoundModule) {
    ScriptedFolder modules;
    const fs::path copy = modules.Path() / fs::u8path(PLUGIN_FILE).filename();
    fs::copy_file(fs::u8path(PLUGIN_FILE), copy);
    const std::string path = copy.u8string();
    const long runs = oom::ForEachFailingAllocation([&](long nth, auto disarm) {
        ResetHost();
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        disarm();
        ASSERT_NE(library, nullptr) << "allocation " << nth << " failed";
        dlclose(library);
        EXPECT_EQ(host.unloads, host.loads) << "allocation " << nth << " failed";
        modules.ExpectNoModuleLoaded();
    });
    EXPECT_GT(runs, 10);
}

#endif

}  // namespace
