#include <gtest/gtest.h>

#include "config/IniDocument.h"
#include "modules/ModuleRegistry.h"
#include "support/Emulation.h"
#include "support/ModuleFolder.h"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace testing_support;

namespace {

class ModuleRegistryTest : public ::testing::Test {
protected:
    // Loads the registry from an INI text; every module section also gets the log setting.
    void Load(const std::string& ini) {
        folder.WriteIni("test.ini", ini);
        IniDocument document;
        document.Load((folder.folder.Path() / "test.ini").u16string());
        registry.Load(folder.folder.Directory(), document, failures);
    }
    std::string Log() const { return folder.LogSetting() + "\n"; }

    ModuleFolder folder;
    ModuleRegistry registry;
    std::vector<LoadFailure> failures;
};

}  // namespace

TEST_F(ModuleRegistryTest, RegistryFollowsModulesOrderAndEachGetsItsOwnSettings) {
    for (const char* name : {"iso", "cab", "zip"}) folder.AddModule(name);
    Load("[Modules]\nzip=zip" TESTMODULE_SUFFIX "\niso=iso" TESTMODULE_SUFFIX "\ncab=cab" TESTMODULE_SUFFIX "\n"
         "[iso]\n" + Log() + "a=1\nb=2\n[zip]\n" + Log() + "[cab]\n" + Log() + "x=\n");
    EXPECT_TRUE(failures.empty());
    ASSERT_EQ(registry.Size(), 3u);
    EXPECT_EQ(registry.At(0).moduleName, u"zip");
    EXPECT_EQ(registry.At(1).moduleName, u"iso");
    EXPECT_EQ(registry.At(2).moduleName, u"cab");

    const auto log = ReadLog(folder.LogPath());
    ASSERT_EQ(log.size(), 3u);
    const std::string logPath = folder.LogPath().u8string();
    EXPECT_EQ(log[0][0], "zip");
    EXPECT_EQ(Field(log[0], "settings"), "Log=" + logPath + "\\0\\0");
    EXPECT_EQ(log[1][0], "iso");
    EXPECT_EQ(Field(log[1], "settings"), "Log=" + logPath + "\\0a=1\\0b=2\\0\\0");
    EXPECT_EQ(Field(log[2], "settings"), "Log=" + logPath + "\\0x=\\0\\0");

    registry.Unload();
    EXPECT_EQ(registry.Size(), 0u);
    const std::vector<std::string> expected = {"zip LoadSubModule",   "iso LoadSubModule",   "cab LoadSubModule",
                                               "zip UnloadSubModule", "iso UnloadSubModule", "cab UnloadSubModule"};
    EXPECT_EQ(LoggedCalls(folder.LogPath()), expected);
    registry.Unload();  // a second unload has nothing left to do
    EXPECT_EQ(LoggedCalls(folder.LogPath()).size(), expected.size());
}

TEST_F(ModuleRegistryTest, ModuleWithoutOwnSectionGetsEmptySettings) {
    folder.AddModule("plain");
    // Without a section of its own the module has no log setting: it takes the environment's.
    const fs::path fallback = folder.folder.Path() / "fallback.log";
    SetEnvironment("MORVANE_TESTMODULE_LOG", fallback.u8string());
    Load("[Modules]\nplain=plain" TESTMODULE_SUFFIX "\n");
    SetEnvironment("MORVANE_TESTMODULE_LOG", "");
    ASSERT_EQ(registry.Size(), 1u);
    const auto log = ReadLog(fallback);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(Field(log[0], "settings"), "\\0");
}

TEST_F(ModuleRegistryTest, FiltersBecomeMasks) {
    folder.AddModule("a");
    folder.AddModule("b");
    folder.AddModule("c");
    Load("[Modules]\na=a" TESTMODULE_SUFFIX "\nb=b" TESTMODULE_SUFFIX "\nc=c" TESTMODULE_SUFFIX "\n"
         "[Filters]\na=;*.iso;;*.img;\nb=*.iso; *.img\nzzz=*.nothing\n");
    ASSERT_EQ(registry.Size(), 3u);
    EXPECT_EQ(registry.At(0).masks, (std::vector<std::u16string>{u"*.iso", u"*.img"}));
    EXPECT_EQ(registry.At(1).masks, (std::vector<std::u16string>{u"*.iso", u" *.img"}));
    EXPECT_TRUE(registry.At(2).masks.empty());
}

TEST_F(ModuleRegistryTest, FailuresAreListedInOrderAndTheRestStillLoads) {
    for (const char* name : {"good1", "good2", "v3", "v0", "v5", "refuses", "negative", "noclose", "noopen", "noread",
                             "noextract", "noprepare"})
        folder.AddModule(name);
    folder.AddModule("nounload", true);
    WriteFile(folder.folder.Path() / ("text" TESTMODULE_SUFFIX), "this is not a library");
    const std::string S = TESTMODULE_SUFFIX;
    Load("[Modules]\ngood1=good1" + S + "\nmissing=missing" + S + "\nv3=v3" + S + "\nv0=v0" + S + "\nv5=v5" + S +
         "\nrefuses=refuses" + S + "\nnegative=negative" + S + "\nnoopen=noopen" + S + "\nnoclose=noclose" + S +
         "\nnoread=noread" + S + "\nnoextract=noextract" + S + "\nnoprepare=noprepare" + S + "\nnounload=nounload" + S +
         "\nemptyfile=\n=good1" + S + "\ntext=text" + S + "\ngood2=good2" + S + "\n" +
         "[v3]\n" + Log() + "Version=3\n[v0]\n" + Log() + "Version=0\n[v5]\n" + Log() + "Version=5\n[refuses]\n" +
         Log() + "LoadAnswer=0\n[negative]\n" + Log() + "LoadAnswer=-1\n" +
         "[noopen]\nNullProc=OpenProc\n[noclose]\nNullProc=CloseProc\n[noread]\nNullProc=ReadEntryProc\n" +
         "[noextract]\nNullProc=ExtractProc\n[noprepare]\nNullProc=PrepareProc\n[nounload]\n" + Log() +
         "[good1]\n" + Log() + "[good2]\n" + Log());

    // Any non-zero answer of LoadSubModule accepts, a negative one too.
    ASSERT_EQ(registry.Size(), 3u);
    EXPECT_EQ(registry.At(0).moduleName, u"good1");
    EXPECT_EQ(registry.At(1).moduleName, u"negative");
    EXPECT_EQ(registry.At(2).moduleName, u"good2");

    struct Expected {
        std::u16string name;
        bool hasText;
    };
    const std::vector<Expected> expected = {
        {u"missing", true},    {u"v3", false},       {u"v0", false},        {u"v5", false},
        {u"refuses", false},   {u"noopen", false},   {u"noclose", false},   {u"noread", false},
        {u"noextract", false}, {u"noprepare", false}, {u"nounload", false}, {u"emptyfile", false},
        {u"", false},          {u"text", true},
    };
    ASSERT_EQ(failures.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(failures[i].moduleName, expected[i].name) << i;
        EXPECT_EQ(!failures[i].errorText.empty(), expected[i].hasText) << Utf8(expected[i].name);
    }
#if defined(_WIN32)
    // The system's own message, line ending included.
    EXPECT_EQ(failures[0].errorText, u"Module not found.\r\n");
#endif
    // A refused module is never unloaded; a library without UnloadSubModule is never bound.
    registry.Unload();
    const std::vector<std::string> calls = {
        "good1 LoadSubModule",   "v3 LoadSubModule",         "v0 LoadSubModule",       "v5 LoadSubModule",
        "refuses LoadSubModule", "negative LoadSubModule",   "good2 LoadSubModule",    "good1 UnloadSubModule",
        "negative UnloadSubModule", "good2 UnloadSubModule"};
    EXPECT_EQ(LoggedCalls(folder.LogPath()), calls);
}

TEST_F(ModuleRegistryTest, WithoutModulesSectionNothingLoadsAndNothingFails) {
    folder.AddModule("a");
    Load("[Filters]\na=*.iso\n[a]\nx=1\n");
    EXPECT_EQ(registry.Size(), 0u);
    EXPECT_TRUE(failures.empty());
}

TEST_F(ModuleRegistryTest, LongLibraryPathIsNotCut) {
    folder.AddModule("short");
    const std::string deep(120, 'd');
    fs::create_directories(folder.folder.Path() / deep / deep);
    fs::copy_file(TestModuleFile(), folder.folder.Path() / deep / deep / ("long" TESTMODULE_SUFFIX));
    const std::string file = deep + "/" + deep + "/long" TESTMODULE_SUFFIX;
    ASSERT_GT(folder.folder.Directory().size() + file.size(), 260u);  // past the classic path limit
    Load("[Modules]\nlong=" + file + "\nshort=short" TESTMODULE_SUFFIX "\n[long]\n" + Log());
    EXPECT_TRUE(failures.empty()) << (failures.empty() ? "" : Utf8(failures[0].errorText));
    ASSERT_EQ(registry.Size(), 2u);
    EXPECT_EQ(registry.At(0).moduleName, u"long");
    EXPECT_EQ(registry.At(1).moduleName, u"short");
    EXPECT_EQ(LoggedCalls(folder.LogPath()), std::vector<std::string>{"long LoadSubModule"});
}

#if defined(_WIN32)
std::u16string AsciiText(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// NTDLL's message for an exception code where the system has one (Wine has none), else fallback.
std::u16string SystemExceptionText(DWORD code, const std::u16string& fallback) {
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                        FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (!FormatMessageW(flags, GetModuleHandleW(L"NTDLL.dll"), code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr))
        return fallback;
    std::u16string copy(reinterpret_cast<const char16_t*>(text));
    LocalFree(text);
    return copy;
}

TEST_F(ModuleRegistryTest, StructuredExceptionsInLoadSubModule) {
    folder.AddModule("faults");
    folder.AddModule("raises");
    folder.AddModule("dotnet");
    folder.AddModule("handles");
    folder.AddModule("after");
    Load("[Modules]\nfaults=faults.dll\nraises=raises.dll\ndotnet=dotnet.dll\nhandles=handles.dll\nafter=after.dll\n"
         "[faults]\n" + Log() + "LoadFault=1\n[raises]\n" + Log() + "LoadRaise=E0001234\n[dotnet]\n" + Log() +
         "LoadRaise=E0434352\n[handles]\n" + Log() + "LoadHandledFault=1\n[after]\n" + Log());
    ASSERT_EQ(registry.Size(), 2u);
    EXPECT_EQ(registry.At(0).moduleName, u"handles");
    EXPECT_EQ(registry.At(1).moduleName, u"after");
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].moduleName, u"faults");
    const uint32_t fault = test_support::AsReported(0xC0000005u);
    EXPECT_EQ(failures[0].errorText, SystemExceptionText(fault, AsciiText("Unrecognized exception: " + std::to_string(fault))));
    EXPECT_EQ(failures[1].errorText, SystemExceptionText(0xE0001234u, u"Unrecognized exception: 3758101044"));
    EXPECT_EQ(failures[2].errorText, SystemExceptionText(0xE0434352u, u".NET code has thrown an exception"));
    // The faulting libraries were released.
    EXPECT_EQ(GetModuleHandleW((folder.folder.Path() / "faults.dll").wstring().c_str()), nullptr);
    EXPECT_EQ(GetModuleHandleW((folder.folder.Path() / "raises.dll").wstring().c_str()), nullptr);
}
#endif
