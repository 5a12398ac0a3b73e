// Extraction through ProcessFileW and ProcessFile: targets, answers, progress and file times.
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

#include "support/Containers.h"
#include "support/PluginUnderTest.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

using namespace testing_support;

namespace {

constexpr uint64_t kCreated = 133486382450000000ull;   // 2024-01-02 03:04:05 UTC
constexpr uint64_t kModified = 133604199310000000ull;  // 2024-05-17 11:45:31 UTC

// What the host's progress callbacks received.
struct ProgressLog {
    std::mutex lock;
    std::vector<std::string> calls;
    int answer = 1;
} progress;

int PK_CALL WideProgress(PK_WCHAR* name, int size) {
    std::lock_guard<std::mutex> guard(progress.lock);
    progress.calls.push_back(std::string("W ") + (name ? "name" : "null") + " " + std::to_string(size));
    return progress.answer;
}

int PK_CALL AnsiProgress(char* name, int size) {
    std::lock_guard<std::mutex> guard(progress.lock);
    progress.calls.push_back(std::string("A ") + (name ? "name" : "null") + " " + std::to_string(size));
    return progress.answer;
}

class PluginExtractionTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.AddModule("m");
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nm=m" TESTMODULE_SUFFIX "\n[m]\n" +
                                                        folder.LogSetting() + "\n");
        plugin = std::make_unique<PluginUnderTest>(folder);
        progress.calls.clear();
        progress.answer = 1;
        out = folder.folder.Path() / "out";
    }
    PK_HANDLE OpenEntries(const std::string& entries) {
        const std::u16string path = WriteContainer(
            folder.folder.Path() / ("x" + std::to_string(counter++) + ".bin"), "open\tm\t1\n" + entries);
        PK_HANDLE handle = plugin->Open(path);
        EXPECT_NE(handle, nullptr);
        return handle;
    }
    int Next(PK_HANDLE handle) {
        int result = 0;
        plugin->NextHeader(handle, &result);
        return result;
    }
    // Extracts the current entry to the full path target, DestPath null as many file managers do.
    int ExtractTo(PK_HANDLE handle, const fs::path& target, int operation = PK_EXTRACT) {
        std::u16string name = target.u16string();
        return plugin->ProcessFileW(handle, operation, nullptr, W(name));
    }
    std::vector<std::vector<std::string>> Extractions() const { return CallsNamed(folder.LogPath(), "ExtractProc"); }

    ModuleFolder folder;
    std::unique_ptr<PluginUnderTest> plugin;
    fs::path out;
    int counter = 0;
};

}  // namespace

TEST_F(PluginExtractionTest, AnswersBecomeResultCodes) {
    struct Case {
        const char* extract;
        int result;
    };
    const std::vector<Case> cases = {{"0", 0}, {"1", E_EWRITE}, {"2", E_EREAD}, {"3", E_BAD_DATA}, {"42", E_EOPEN},
                                     {"-1", E_EOPEN}};
    fs::create_directories(out);
    for (const Case& c : cases) {
        PK_HANDLE handle = OpenEntries(std::string("entry\tname=f\tcontent=data\textract=") + c.extract + "\n");
        ASSERT_EQ(Next(handle), 0);
        EXPECT_EQ(ExtractTo(handle, out / (std::string("f") + c.extract)), c.result) << c.extract;
        plugin->CloseArchive(handle);
    }
    EXPECT_EQ(ReadFile(out / "f0"), "data");
}

// The last-write time of a file as a FILETIME (100 ns since 1601, UTC), to the second.
uint64_t ModifiedFileTime(const fs::path& file) {
#if defined(_WIN32)
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.wstring().c_str(), GetFileExInfoStandard, &data)) return 0;
    const uint64_t time = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return time / 10000000ull * 10000000ull;
#else
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) return 0;
    return (uint64_t(info.st_mtime) + 11644473600ull) * 10000000ull;
#endif
}

// After ExtractProc answered 0, an entry that the module no longer reads with 1 leaves the file's
// times as the module wrote them, and the extraction still succeeds.
TEST_F(PluginExtractionTest, ExtractedEntryThatCannotBeReadAgainKeepsItsTimes) {
    struct Case {
        const char* answer;
        int listed;
    };
    fs::create_directories(out);
    for (const Case& c : {Case{"5", 0}, Case{"0", E_BAD_ARCHIVE}}) {
        PK_HANDLE handle = OpenEntries(std::string("entry\tname=f\tcontent=data\tmtime=") + std::to_string(kModified) +
                                       "\tanswer=" + c.answer + "\n");
        EXPECT_EQ(Next(handle), c.listed) << c.answer;
        const fs::path target = out / (std::string("f") + c.answer);
        EXPECT_EQ(ExtractTo(handle, target), 0) << c.answer;
        EXPECT_EQ(ReadFile(target), "data") << c.answer;
        EXPECT_NE(ModifiedFileTime(target), kModified / 10000000ull * 10000000ull) << c.answer;
        EXPECT_NE(ModifiedFileTime(target), 0u) << c.answer;
        plugin->CloseArchive(handle);
    }
}

TEST_F(PluginExtractionTest, SkipTestAndMissingNameTouchNothing) {
    PK_HANDLE handle = OpenEntries("entry\tname=f\tcontent=data\n");
    ASSERT_EQ(Next(handle), 0);
    EXPECT_EQ(ExtractTo(handle, out / "skip" / "f", PK_SKIP), 0);
    EXPECT_EQ(ExtractTo(handle, out / "test" / "f", PK_TEST), 0);
    std::u16string destPath = (out / "named").u16string();
    EXPECT_EQ(plugin->ProcessFileW(handle, PK_EXTRACT, W(destPath), nullptr), E_ECREATE);
    EXPECT_EQ(plugin->ProcessFileW(handle, PK_EXTRACT, nullptr, nullptr), E_ECREATE);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(Extractions().empty());
    plugin->CloseArchive(handle);
}

TEST_F(PluginExtractionTest, ExtractsTheCurrentEntryAndRestoresItsTimes) {
    PK_HANDLE handle = OpenEntries("entry\tname=first\tcontent=one\nentry\tname=second\tcontent=two\tctime=" +
                                   std::to_string(kCreated) + "\tmtime=" + std::to_string(kModified) + "\n");
    // Before any header there is no current entry yet: the module is asked for index -1.
    ExtractTo(handle, out / "early");
    ASSERT_EQ(Next(handle), 0);
    ASSERT_EQ(Next(handle), 0);
    ASSERT_EQ(ExtractTo(handle, out / "deep" / "er" / "second.txt"), 0);
    EXPECT_EQ(ReadFile(out / "deep" / "er" / "second.txt"), "two");
    const auto extractions = Extractions();
    ASSERT_EQ(extractions.size(), 2u);
    EXPECT_EQ(Field(extractions[0], "index"), "-1");
    EXPECT_EQ(Field(extractions[1], "index"), "1");
    EXPECT_EQ(Field(extractions[1], "target"), (out / "deep" / "er" / "second.txt").u8string());
    EXPECT_EQ(Field(extractions[1], "reserved"), "0");
    // The entry is read again for its times, with the same index.
    EXPECT_EQ(Field(CallsNamed(folder.LogPath(), "ReadEntryProc").back(), "index"), "1");
#if defined(_WIN32)
    HANDLE file = CreateFileW((out / "deep" / "er" / "second.txt").wstring().c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created{}, accessed{}, written{};
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    // Wine keeps no creation time for files on a Linux file system; Windows does.
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        EXPECT_EQ((uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime, kCreated);
    }
    EXPECT_EQ((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime, kModified);
#else
    struct stat info {};
    ASSERT_EQ(stat((out / "deep" / "er" / "second.txt").c_str(), &info), 0);
    EXPECT_EQ(uint64_t(info.st_mtime), kModified / 10000000ull - 11644473600ull);
#endif
    plugin->CloseArchive(handle);
}

// A read that fails lists nothing, whatever the module left in the record: the folder keeps the
// time of its own entry, not one from a failed read.
TEST_F(PluginExtractionTest, AFailedReadListsNothing) {
    const std::string early = std::to_string(kModified), late = std::to_string(kModified + 864000000000ull);
    for (const char* failure : {"0", "2"}) {
        PK_HANDLE handle = OpenEntries("entry\tname=d\tattr=16\tmtime=" + early + "\nentry\tname=d/f\tcontent=x\tmtime=" +
                                       early + "\nentry\tname=d\tattr=16\tmtime=" + late + "\tanswer=" + failure + "\n");
        const fs::path target = out / failure;
        ASSERT_EQ(Next(handle), 0);
        ASSERT_EQ(Next(handle), 0);
        ASSERT_EQ(ExtractTo(handle, target / "d" / "f"), 0);
        EXPECT_NE(Next(handle), 0) << failure;
        plugin->CloseArchive(handle);
        EXPECT_EQ(fs::last_write_time(target / "d"), fs::last_write_time(target / "d" / "f")) << failure;
    }
}

TEST_F(PluginExtractionTest, ProgressReachesTheHost) {
    struct Case {
        const char* what;
        bool wide, ansi;
        int hostAnswer;
        std::vector<std::string> calls;
    };
    const std::vector<Case> cases = {
        {"wide only", true, false, 1, {"W null 2", "W null 2", "W null 2"}},
        {"both: only the wide one", true, true, 1, {"W null 2", "W null 2", "W null 2"}},
        {"ansi only", false, true, 1, {"A null 2", "A null 2", "A null 2"}},
        {"a cancel in the host does not stop the module", true, false, 0, {"W null 2", "W null 2", "W null 2"}},
        {"no callback", false, false, 1, {}},
    };
    fs::create_directories(out);
    for (const Case& c : cases) {
        PK_HANDLE handle = OpenEntries("entry\tname=p\tcontent=abcdef\tprogress=3\n");
        if (c.wide) plugin->SetProcessDataProcW(handle, WideProgress);
        if (c.ansi) plugin->SetProcessDataProc(handle, AnsiProgress);
        progress.calls.clear();
        progress.answer = c.hostAnswer;
        ASSERT_EQ(Next(handle), 0);
        EXPECT_EQ(ExtractTo(handle, out / "p"), 0) << c.what;
        EXPECT_EQ(progress.calls, c.calls) << c.what;
        const auto reports = CallsNamed(folder.LogPath(), "Progress");
        ASSERT_GE(reports.size(), 3u);
        for (size_t i = reports.size() - 3; i < reports.size(); ++i) EXPECT_EQ(Field(reports[i], "answer"), "1");
        plugin->CloseArchive(handle);
    }
}

TEST_F(PluginExtractionTest, AnsiProcessFileWithoutDestPath) {
    PK_HANDLE handle = OpenEntries("entry\tname=a\tcontent=ansi\n");
    ASSERT_EQ(Next(handle), 0);
    fs::create_directories(out);
    std::string name = (out / "ansi.txt").u8string();
    EXPECT_EQ(plugin->ProcessFile(handle, PK_EXTRACT, nullptr, &name[0]), 0);
    EXPECT_EQ(ReadFile(out / "ansi.txt"), "ansi");
    plugin->CloseArchive(handle);
}

TEST_F(PluginExtractionTest, BackgroundExtractionOnTwoThreads) {
    std::string entries;
    for (int i = 0; i < 40; ++i)
        entries += "entry\tname=dir\\f" + std::to_string(i % 30) + ".txt\tcontent=c" + std::to_string(i) +
                   "\tcontent-repeat=50\tprogress=2\n";
    auto run = [&](const fs::path& target, std::vector<std::u16string>& names) {
        PK_HANDLE handle = OpenEntries(entries);
        plugin->SetProcessDataProcW(handle, WideProgress);
        for (;;) {
            int result = 0;
            const tHeaderDataExW header = plugin->NextHeader(handle, &result);
            if (result != 0) break;
            names.push_back(FromW(header.FileName));
            std::u16string destPath = target.u16string();
            std::u16string destName = FromW(header.FileName);
            if (plugin->ProcessFileW(handle, PK_EXTRACT, W(destPath), W(destName)) != 0) names.push_back(u"failed");
        }
        plugin->CloseArchive(handle);
    };
    std::vector<std::u16string> alone, first, second;
    run(folder.folder.Path() / "alone", alone);
    std::thread one([&] { run(folder.folder.Path() / "one", first); });
    std::thread two([&] { run(folder.folder.Path() / "two", second); });
    one.join();
    two.join();
    EXPECT_EQ(alone.size(), 40u);
    EXPECT_EQ(first, alone);
    EXPECT_EQ(second, alone);
#if defined(_WIN32)
    for (const auto& name : alone) {
        const fs::path relative(name);
        EXPECT_EQ(ReadFile(folder.folder.Path() / "one" / relative), ReadFile(folder.folder.Path() / "alone" / relative));
        EXPECT_EQ(ReadFile(folder.folder.Path() / "two" / relative), ReadFile(folder.folder.Path() / "alone" / relative));
    }
#endif
}

// A module that faults in a call gives its container up, and nothing else: the call answers the
// interface's error, every later call on the handle answers the same without reaching the module,
// a file that it was writing is gone, CloseArchive calls no CloseProc, and another container of
// the same module, open on another thread, lists and extracts before and after.
TEST_F(PluginExtractionTest, AFaultGivesUpItsContainerOnly) {
    struct Case {
        const char* operation;
        int at;  // the call that faults, counted from 1; 0: the first
        int opened, listed, extracted, probed;
        std::vector<std::string> calls;  // the calls that reach the module, the faulting one last
    };
    const std::vector<std::string> extraction = {"OpenProc", "PrepareProc", "ReadEntryProc", "ExtractProc",
                                                 "Progress", "Progress", "Progress", "Progress", "ReadEntryProc"};
    auto first = [&](size_t count) { return std::vector<std::string>(extraction.begin(), extraction.begin() + count); };
    const std::vector<Case> cases = {
        {"PrepareProc", 0, E_NOT_SUPPORTED, 0, 0, 1, first(2)},
        {"ReadEntryProc", 0, 0, E_BAD_ARCHIVE, E_BAD_DATA, 1, first(3)},
        {"ExtractProc", 0, 0, 0, E_BAD_DATA, 1, first(4)},
        {"Progress", 0, 0, 0, E_BAD_DATA, 1, first(5)},
        {"ReadEntryProc", 2, 0, 0, E_BAD_DATA, 1, first(9)},  // reading the entry's times again
        {"CloseProc", 0, 0, 0, 0, 0, [&] {
             std::vector<std::string> calls = extraction;
             calls.push_back("CloseProc");
             return calls;
         }()},
    };
    const std::string entry = "entry\tname=f\tcontent=0123456789\tcontent-repeat=1000\tprogress=4\n";
    fs::create_directories(out);
    for (const char* kind : {"access", "divide", "illegal"}) {
        for (const Case& c : cases) {
            const std::string what = std::string(c.operation) + std::to_string(c.at) + " " + kind;
            const fs::path target = out / (std::string(c.operation) + std::to_string(c.at) + kind);
            // The other container: its first entry before the fault, its second after it.
            std::promise<void> faulted, firstDone;
            std::vector<int> answers;
            std::thread other([&] {
                PK_HANDLE handle = OpenEntries("entry\tname=a\tcontent=before\nentry\tname=b\tcontent=after\tprogress=2\n");
                answers.push_back(Next(handle));
                answers.push_back(ExtractTo(handle, target.string() + ".before"));
                firstDone.set_value();
                faulted.get_future().wait();
                answers.push_back(Next(handle));
                answers.push_back(ExtractTo(handle, target.string() + ".after"));
                answers.push_back(Next(handle));
                plugin->CloseArchive(handle);
            });
            firstDone.get_future().wait();
            const size_t logged = ReadLog(folder.LogPath()).size();
            {
                FaultingModuleLeaksIgnored leaks;
                const std::u16string path = WriteContainer(folder.folder.Path() / ("fault" + std::to_string(counter++)),
                                                           "open\tm\t1\nfault\t" + std::string(c.operation) + "\t" +
                                                               kind + "\t" + std::to_string(c.at) + "\n" + entry);
                int opened = -1;
                PK_HANDLE handle = plugin->Open(path, &opened);
                EXPECT_EQ(opened, c.opened) << what;
                EXPECT_EQ(handle == nullptr, c.opened != 0) << what;
                if (handle) {
                    EXPECT_EQ(Next(handle), c.listed) << what;
                    EXPECT_EQ(ExtractTo(handle, target), c.extracted) << what;
                    if (c.extracted != 0) {
                        EXPECT_EQ(Next(handle), E_BAD_ARCHIVE) << what;
                        for (int operation : {PK_EXTRACT, PK_TEST, PK_SKIP})
                            EXPECT_EQ(ExtractTo(handle, target, operation), E_BAD_DATA) << what << operation;
                    }
                    EXPECT_EQ(plugin->CloseArchive(handle), 0) << what;
                }
                std::vector<std::string> calls;
                const auto lines = ReadLog(folder.LogPath());
                for (size_t i = logged; i < lines.size(); ++i) calls.push_back(lines[i][1]);
                EXPECT_EQ(calls, c.calls) << what;
                EXPECT_EQ(fs::exists(target), c.extracted == 0 && c.opened == 0) << what;
                EXPECT_EQ(plugin->Probe(path), c.probed) << what;
            }
            faulted.set_value();
            other.join();
            EXPECT_EQ(answers, (std::vector<int>{0, 0, 0, 0, E_END_ARCHIVE})) << what;
            EXPECT_EQ(ReadFile(target.string() + ".before"), "before") << what;
            EXPECT_EQ(ReadFile(target.string() + ".after"), "after") << what;
        }
    }
}

#if defined(_WIN32)
TEST_F(PluginExtractionTest, TargetComposition) {
    const std::u16string T = folder.folder.Path().u16string();
    fs::create_directories(out);
    WriteFile(out / "plain", "a file, not a folder");
    struct Case {
        std::u16string destPath;  // u"-" for null
        std::u16string destName;
        std::u16string target;      // as the module receives it
        std::u16string file;        // where the data lands
        int result;
    };
    const std::vector<Case> cases = {
        {T + u"\\Out", u"Sub\\Data.txt", T + u"\\Out\\Sub\\Data.txt", T + u"\\Out\\Sub\\Data.txt", 0},
        {u"-", T + u"\\Out2\\Data.bin", T + u"\\Out2\\Data.bin", T + u"\\Out2\\Data.bin", 0},
        {T + u"\\Out3\\", u"Data.txt", T + u"\\Out3\\\\Data.txt", T + u"\\Out3\\Data.txt", 0},
        {T + u"\\Out4", u"Sub/Deep/f.txt", T + u"\\Out4\\Sub/Deep/f.txt", T + u"\\Out4\\Sub\\Deep\\f.txt", 0},
        {u"-", u"Data.txt", u"Data.txt", T + u"\\Data.txt", 0},
        {T + u"\\out", u"plain\\x.txt", T + u"\\out\\plain\\x.txt", u"", E_EWRITE},
    };
    const fs::path previous = fs::current_path();
    fs::current_path(folder.folder.Path());  // a bare DestName lands in the current folder
    for (const Case& c : cases) {
        PK_HANDLE handle = OpenEntries("entry\tname=x\tcontent=payload\n");
        ASSERT_EQ(Next(handle), 0);
        std::u16string destPath = c.destPath, destName = c.destName;
        EXPECT_EQ(plugin->ProcessFileW(handle, PK_EXTRACT, c.destPath == u"-" ? nullptr : W(destPath), W(destName)),
                  c.result)
            << Utf8(c.target);
        EXPECT_EQ(Field(Extractions().back(), "target"), Utf8(c.target));
        if (!c.file.empty()) {
            EXPECT_EQ(ReadFile(fs::path(c.file)), "payload") << Utf8(c.file);
        }
        plugin->CloseArchive(handle);
    }
    fs::current_path(previous);
}

TEST_F(PluginExtractionTest, LongTargetPathExtracts) {
    std::u16string destPath = (folder.folder.Path() / "long").u16string();
    for (int i = 0; i < 5; ++i) destPath += u"\\" + std::u16string(50, char16_t(u'a' + i));
    ASSERT_GT(destPath.size(), 300u);
    PK_HANDLE handle = OpenEntries("entry\tname=x\tcontent=far away\tmtime=" + std::to_string(kModified) + "\n");
    ASSERT_EQ(Next(handle), 0);
    std::u16string destName = u"file.txt";
    EXPECT_EQ(plugin->ProcessFileW(handle, PK_EXTRACT, W(destPath), W(destName)), 0);
    EXPECT_EQ(ReadFile(u"\\\\?\\" + destPath + u"\\file.txt"), "far away");
    plugin->CloseArchive(handle);
}
#endif

// Folders are made once per archive, but only what exists is remembered: a folder that could not
// be made is tried again for the next file, and the next archive looks again.
TEST_F(PluginExtractionTest, AFolderThatCouldNotBeMadeIsTriedAgain) {
    fs::create_directories(out);
    WriteFile(out / "a", "a file where the folder goes");
    PK_HANDLE handle = OpenEntries("entry\tname=one\tcontent=1\nentry\tname=two\tcontent=2\nentry\tname=three\tcontent=3\n");
    ASSERT_EQ(Next(handle), 0);
    EXPECT_NE(ExtractTo(handle, out / "a" / "one"), 0);
    fs::remove(out / "a");
    ASSERT_EQ(Next(handle), 0);
    EXPECT_EQ(ExtractTo(handle, out / "a" / "two"), 0);
    EXPECT_EQ(ReadFile(out / "a" / "two"), "2");
    plugin->CloseArchive(handle);

    fs::remove_all(out / "a");
    handle = OpenEntries("entry\tname=one\tcontent=1\n");
    ASSERT_EQ(Next(handle), 0);
    EXPECT_EQ(ExtractTo(handle, out / "a" / "one"), 0);
    EXPECT_EQ(ReadFile(out / "a" / "one"), "1");
    plugin->CloseArchive(handle);
}
