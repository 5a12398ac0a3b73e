// The tar sub-module as Morvane sees it: the real tar.so, loaded and driven through its two exports
// and five operations, on archives that GNU tar makes during the test. Linux only; under Wine the
// same module is driven through Morvane by tests/tar/tar_through_morvane.sh.
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "modules/SubModuleContract.h"
#include "support/TestFiles.h"
#include "text/Utf8.h"

#ifndef TAR_MODULE_FILE
#error "the build names the tar module to test"
#endif

namespace {

using testing_support::ReadFile;
using testing_support::TempFolder;
using testing_support::WriteFile;
namespace fs = std::filesystem;

constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
constexpr int32_t kExtractUnsupported = 4;

uint64_t FileTimeOf(int64_t seconds, uint32_t nanoseconds = 0) {
    return uint64_t(seconds + int64_t(kSecondsFrom1601To1970)) * 10000000u + nanoseconds / 100;
}
uint64_t Join(const SM_FILETIME& time) { return uint64_t(time.HighDateTime) << 32 | time.LowDateTime; }

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command line (GNU tar, touch, ...); the test fails when it does.
void Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << command;
}

std::string RandomBytes(size_t size) {
    std::mt19937 generator(20240517);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = char(generator());
    return bytes;
}

// Text as the contract carries it: UTF-16, zero-terminated, alive as long as this object.
class WideText {
public:
    explicit WideText(const std::u16string& text) : text_(text) {}
    explicit WideText(const fs::path& path) : text_(text::FromUtf8(path.string())) {}
    const SM_WCHAR* get() const { return reinterpret_cast<const SM_WCHAR*>(text_.c_str()); }

private:
    std::u16string text_;
};

std::string NameOf(const EntryInfo& entry) {
    std::u16string name;
    for (size_t i = 0; i < SM_NAME_LENGTH && entry.Name[i]; ++i) name += char16_t(entry.Name[i]);
    return text::ToUtf8(name);
}

// What the progress function received.
struct ProgressCall {
    void* context;
    int32_t amount;
};
std::vector<ProgressCall> progressCalls;

int32_t SM_CALL RecordProgress(void* context, int32_t amount, int32_t /*unused*/) {
    progressCalls.push_back({context, amount});
    return 1;
}

class TarSubModuleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library = dlopen(TAR_MODULE_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        loadSubModule = reinterpret_cast<LoadSubModuleFunction>(dlsym(library, "LoadSubModule"));
        unloadSubModule = reinterpret_cast<UnloadSubModuleFunction>(dlsym(library, "UnloadSubModule"));
    }
    static void TearDownTestSuite() {
        if (library) dlclose(library);
        library = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(loadSubModule, nullptr);
        ASSERT_NE(unloadSubModule, nullptr);
        work = temp.Path();
        ASSERT_EQ(Load(u""), 1);
        progressCalls.clear();
    }
    void TearDown() override {
        for (ContainerHandle handle : open) module.CloseProc(handle);
        EXPECT_EQ(unloadSubModule(), 1);
    }

    // LoadSubModule with these settings items ("key=value" each), as Morvane flattens a section.
    int32_t Load(const std::u16string& items, bool nullText = false) {
        module = SubModuleInterface{};
        std::u16string settings = items;
        settings += u'\0';
        if (!items.empty()) settings += u'\0';
        module.SettingsText = nullText ? nullptr : reinterpret_cast<const SM_WCHAR*>(settings.c_str());
        return loadSubModule(&module);
    }
    int32_t Open(const fs::path& archive, ContainerHandle* handle, const char* password = nullptr) {
        const WideText path(archive);
        OpenRequest request{path.get(), password, 0, 0};
        const int32_t answer = module.OpenProc(request, handle, this);
        if (answer == SM_OPEN_OK && handle && *handle) open.push_back(*handle);
        return answer;
    }
    ContainerHandle OpenOrFail(const fs::path& archive) {
        ContainerHandle handle = nullptr;
        EXPECT_EQ(Open(archive, &handle), SM_OPEN_OK) << archive;
        EXPECT_NE(handle, nullptr);
        if (handle) {
            EXPECT_NE(module.PrepareProc(handle), 0);
        }
        return handle;
    }
    void Close(ContainerHandle handle) {
        open.erase(std::remove(open.begin(), open.end(), handle), open.end());
        module.CloseProc(handle);
    }
    // Entries 0, 1, 2, ... until the module answers something else, which lands in end.
    std::vector<EntryInfo> List(ContainerHandle handle, int32_t& end) {
        std::vector<EntryInfo> entries;
        for (int32_t index = 0;; ++index) {
            EntryInfo entry;
            std::memset(&entry, 0, sizeof entry);
            end = module.ReadEntryProc(handle, index, &entry);
            if (end != SM_ENTRY_OK) return entries;
            entries.push_back(entry);
        }
    }
    int32_t Extract(ContainerHandle handle, int32_t index, const fs::path& target,
                    SubModuleProgressProc progress = RecordProgress) {
        const WideText path(target);
        ExtractRequest request{index, 0, path.get(), &progressCalls, progress};
        return module.ExtractProc(handle, request);
    }

    static void* library;
    static LoadSubModuleFunction loadSubModule;
    static UnloadSubModuleFunction unloadSubModule;
    SubModuleInterface module{};
    TempFolder temp;
    fs::path work;
    std::vector<ContainerHandle> open;
};

void* TarSubModuleTest::library = nullptr;
LoadSubModuleFunction TarSubModuleTest::loadSubModule = nullptr;
UnloadSubModuleFunction TarSubModuleTest::unloadSubModule = nullptr;

// ---- The tree that GNU tar packs --------------------------------------------------------------

constexpr int64_t kHelloTime = 1614834367;     // 2021-03-04 05:06:07 UTC, plus half a second
constexpr int64_t kTreeTime = 1577836801;      // 2020-01-01 00:00:01 UTC
const std::string kLongComponent = [] {
    std::string name;
    for (int i = 0; i < 9; ++i) name += "a_very_long_name_";
    return name + ".txt";  // 157 bytes: more than a ustar name field holds
}();

struct Expected {
    std::string name;
    uint64_t unpacked, packed;
    uint32_t attributes;
    uint64_t time;
};

// Makes the source tree; answers its members in the order of GNU tar's --sort=name.
std::vector<Expected> MakeTree(const fs::path& source, bool withLongComponent, bool subSecondTimes) {
    const std::string big = RandomBytes((3u << 20) + 5);
    fs::create_directories(source / "docs" / "empty dir");
    WriteFile(source / "a-file.txt", "Hello, TAR\n");
    WriteFile(source / "docs" / "big.bin", big);
    WriteFile(source / "na\xC3\xAFve caf\xC3\xA9.txt", "na\xC3\xAFve\n");
    WriteFile(source / "read-only.txt", "read only\n");
    if (withLongComponent) WriteFile(source / kLongComponent, "long\n");
    fs::permissions(source / "read-only.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_symlink("a-file.txt", source / "symlink");
    fs::create_hard_link(source / "a-file.txt", source / "z-hard.txt");
    const std::string s = Quote(source.string());
    Shell("cd " + s + " && TZ=UTC touch -h -d '2020-01-01 00:00:01' * docs/* docs && "
          "TZ=UTC touch -d '2021-03-04 05:06:07.5' a-file.txt");
    const uint64_t tree = FileTimeOf(kTreeTime);
    const uint64_t hello = FileTimeOf(kHelloTime, subSecondTimes ? 500000000u : 0);
    std::vector<Expected> members = {
        {"a-file.txt", 11, 11, 0x20, hello},
        {"docs", 0, 0, 0x10, tree},
        {"docs/big.bin", big.size(), big.size(), 0x20, tree},
        {"docs/empty dir", 0, 0, 0x10, tree},
        {"na\xC3\xAFve caf\xC3\xA9.txt", 7, 7, 0x20, tree},
        {"read-only.txt", 10, 10, 0x21, tree},
        {"symlink", 10, 0, 0x20, tree},
        {"z-hard.txt", 11, 0, 0x20, hello},
    };
    if (withLongComponent) members.insert(members.begin() + 1, {kLongComponent, 5, 5, 0x20, tree});
    return members;
}

}  // namespace

// ---- Loading ----------------------------------------------------------------------------------

TEST_F(TarSubModuleTest, SettingsDecideWhetherTheModuleLoads) {
    struct Case {
        std::u16string items;  // "\n" separates items here
        int32_t answer;
    };
    const std::vector<Case> cases = {
        {u"", 1},
        {u"CodePage=1252", 1},
        {u"CodePage= 28591 ", 1},
        {u"CodePage=65001", 1},
        {u"Other=1\nCodePage=1252\nMore=x", 1},
        {u"codepage=none", 1},   // keys are case-sensitive: not ours
        {u"CodePages=none", 1},  // nor is a longer key
        {u"no sign here", 1},
        {u"CodePage=", 0},
        {u"CodePage=   ", 0},
        {u"CodePage=12a", 0},
        {u"CodePage=-1252", 0},
        {u"CodePage=001252", 0},  // more than five digits
        {u"CodePage=437", 0},     // not one this build decodes
        {u"CodePage=1252\nCodePage=x", 0},
    };
    for (const Case& c : cases) {
        std::u16string items = c.items;
        std::replace(items.begin(), items.end(), u'\n', u'\0');
        EXPECT_EQ(Load(items), c.answer) << text::ToUtf8(c.items);
        if (c.answer == 1) {
            EXPECT_EQ(module.Version, uint32_t(SM_INTERFACE_VERSION)) << text::ToUtf8(c.items);
            EXPECT_TRUE(module.OpenProc && module.CloseProc && module.ReadEntryProc && module.ExtractProc &&
                        module.PrepareProc)
                << text::ToUtf8(c.items);
        }
    }
    EXPECT_EQ(Load(u"", true), 1);  // no settings text at all
    EXPECT_EQ(loadSubModule(nullptr), 0);
}

// ---- Opening ----------------------------------------------------------------------------------

TEST_F(TarSubModuleTest, OpenClaimsOnlyTarArchives) {
    fs::create_directories(work / "src");
    WriteFile(work / "src" / "file.txt", "content\n");
    Shell("tar --format=gnu -cf " + Quote((work / "good.tar").string()) + " -C " + Quote((work / "src").string()) +
          " file.txt");
    const std::string good = ReadFile(work / "good.tar");
    std::string badChecksum = good;
    badChecksum[3] ^= 0x20;
    WriteFile(work / "bad-checksum.tar", badChecksum);
    WriteFile(work / "short.tar", good.substr(0, 511));
    WriteFile(work / "one-block.tar", good.substr(0, 512));
    WriteFile(work / "empty.tar", "");
    WriteFile(work / "random.bin", RandomBytes(20000));
    fs::create_directories(work / "folder.tar");
    struct Case {
        const char* file;
        int32_t answer;
    };
    const std::vector<Case> cases = {
        {"good.tar", SM_OPEN_OK},       {"one-block.tar", SM_OPEN_OK}, {"bad-checksum.tar", SM_OPEN_NOT_MINE},
        {"short.tar", SM_OPEN_NOT_MINE}, {"empty.tar", SM_OPEN_NOT_MINE}, {"random.bin", SM_OPEN_NOT_MINE},
        {"missing.tar", SM_OPEN_NOT_MINE}, {"folder.tar", SM_OPEN_NOT_MINE},
    };
    for (const Case& c : cases) {
        ContainerHandle handle = nullptr;
        EXPECT_EQ(Open(work / c.file, &handle), c.answer) << c.file;
        EXPECT_EQ(handle != nullptr, c.answer == SM_OPEN_OK) << c.file;
    }
    // TAR has no password: one offered with the file changes nothing.
    ContainerHandle handle = nullptr;
    EXPECT_EQ(Open(work / "good.tar", &handle, "secret"), SM_OPEN_OK);
    EXPECT_EQ(Open(work / "good.tar", nullptr), SM_OPEN_NOT_MINE);
    EXPECT_EQ(module.OpenProc(OpenRequest{nullptr, nullptr, 0, 0}, &handle, this), SM_OPEN_NOT_MINE);
}

// ---- Listing and extracting what GNU tar wrote --------------------------------------------------

TEST_F(TarSubModuleTest, ListsAndExtractsWhatGnuTarWrote) {
    struct Format {
        const char* name;
        bool longComponent, subSecondTimes;
    };
    for (const Format format : {Format{"gnu", true, false}, Format{"ustar", false, false}, Format{"pax", true, true}}) {
        SCOPED_TRACE(format.name);
        const fs::path source = work / (std::string("src-") + format.name);
        const std::vector<Expected> expected = MakeTree(source, format.longComponent, format.subSecondTimes);
        const fs::path archive = work / (std::string(format.name) + ".tar");
        Shell(std::string("tar --format=") + format.name + " --sort=name -cf " + Quote(archive.string()) + " -C " +
              Quote(source.string()) + " .");

        ContainerHandle handle = OpenOrFail(archive);
        ASSERT_NE(handle, nullptr);
        int32_t end = 0;
        const std::vector<EntryInfo> entries = List(handle, end);
        EXPECT_EQ(end, SM_ENTRY_END);
        ASSERT_EQ(entries.size(), expected.size());
        for (size_t i = 0; i < entries.size(); ++i) {
            const EntryInfo& entry = entries[i];
            const Expected& member = expected[i];
            EXPECT_EQ(NameOf(entry), member.name);
            EXPECT_EQ(entry.UnpackedSize, member.unpacked) << member.name;
            EXPECT_EQ(entry.PackedSize, member.packed) << member.name;
            EXPECT_EQ(entry.Attributes, member.attributes) << member.name;
            EXPECT_EQ(Join(entry.LastWriteTime), member.time) << member.name;
            EXPECT_EQ(Join(entry.CreationTime), member.time) << member.name;
            EXPECT_EQ(entry.Reserved, 0) << member.name;
        }
        // Past the end, the end again; a negative index is an error.
        EntryInfo entry{};
        EXPECT_EQ(module.ReadEntryProc(handle, int32_t(entries.size()) + 5, &entry), SM_ENTRY_END);
        EXPECT_EQ(module.ReadEntryProc(handle, -1, &entry), SM_ENTRY_ERROR);
        EXPECT_EQ(module.ReadEntryProc(handle, 0, nullptr), SM_ENTRY_ERROR);
        EXPECT_EQ(module.ReadEntryProc(nullptr, 0, &entry), SM_ENTRY_ERROR);

        const fs::path out = work / (std::string("out-") + format.name);
        fs::create_directories(out / "docs");
        for (size_t i = 0; i < expected.size(); ++i) {
            const Expected& member = expected[i];
            progressCalls.clear();
            EXPECT_EQ(Extract(handle, int32_t(i), out / member.name), SM_EXTRACT_OK) << member.name;
            // Morvane reads the entry again after extracting it.
            EntryInfo again{};
            EXPECT_EQ(module.ReadEntryProc(handle, int32_t(i), &again), SM_ENTRY_OK) << member.name;
            EXPECT_EQ(NameOf(again), member.name);
            uint64_t reported = 0;
            for (const ProgressCall& call : progressCalls) {
                EXPECT_EQ(call.context, &progressCalls) << member.name;
                EXPECT_GT(call.amount, 0) << member.name;
                EXPECT_LE(call.amount, 1 << 20) << member.name;
                reported += uint64_t(call.amount);
            }
            EXPECT_EQ(reported, member.unpacked) << member.name;
            if (member.attributes & 0x10) {
                EXPECT_TRUE(fs::is_directory(out / member.name)) << member.name;
            } else if (member.name == "symlink") {
                EXPECT_FALSE(fs::is_symlink(out / member.name));
                EXPECT_EQ(ReadFile(out / member.name), "a-file.txt");
            } else {
                EXPECT_FALSE(fs::is_symlink(out / member.name));
                EXPECT_EQ(ReadFile(out / member.name), ReadFile(source / member.name)) << member.name;
            }
        }
        Close(handle);
    }
}

// ---- Names in code pages ----------------------------------------------------------------------

TEST_F(TarSubModuleTest, NamesAreDecodedInTheConfiguredCodePage) {
    const fs::path source = work / "src";
    fs::create_directories(source);
    WriteFile(source / "caf\xE9.txt", "1");  // Latin-1 bytes, as an old system wrote them
    WriteFile(source / "\x80.txt", "2");
    WriteFile(source / "\x9F\xA0.txt", "4");  // the last byte that differs in Windows-1252, and the first that does not
    const std::string longUtf8 = "na\xC3\xAFve_" + std::string(120, 'n') + ".txt";
    WriteFile(source / longUtf8, "3");
    const std::string s = Quote(source.string());
    Shell("tar --format=gnu -cf " + Quote((work / "bytes.tar").string()) + " -C " + s +
          " $(printf 'caf\\351.txt \\200.txt \\237\\240.txt')");
    Shell("tar --format=pax -cf " + Quote((work / "pax.tar").string()) + " -C " + s + " " + Quote(longUtf8));
    struct Case {
        std::u16string settings;
        std::vector<std::string> bytesNames;
    };
    const std::vector<Case> cases = {
        {u"", {"caf\xEF\xBF\xBD.txt", "\xEF\xBF\xBD.txt", "\xEF\xBF\xBD\xEF\xBF\xBD.txt"}},  // not UTF-8
        {u"CodePage=1252", {"caf\xC3\xA9.txt", "\xE2\x82\xAC.txt", "\xC5\xB8\xC2\xA0.txt"}},
        {u"CodePage=28591", {"caf\xC3\xA9.txt", "\xC2\x80.txt", "\xC2\x9F\xC2\xA0.txt"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Load(c.settings), 1);
        ContainerHandle handle = OpenOrFail(work / "bytes.tar");
        int32_t end = 0;
        std::vector<std::string> names;
        for (const EntryInfo& entry : List(handle, end)) names.push_back(NameOf(entry));
        EXPECT_EQ(names, c.bytesNames) << text::ToUtf8(c.settings);
        Close(handle);
        // Names from pax records are UTF-8 whatever the setting.
        handle = OpenOrFail(work / "pax.tar");
        names.clear();
        for (const EntryInfo& entry : List(handle, end)) names.push_back(NameOf(entry));
        EXPECT_EQ(names, std::vector<std::string>{longUtf8}) << text::ToUtf8(c.settings);
        Close(handle);
    }
}

// Names that are not valid UTF-8 reach Morvane with a replacement character for each bad sequence.
TEST_F(TarSubModuleTest, MalformedUtf8NamesGetReplacementCharacters) {
    struct Case {
        std::string stored, shown;
    };
    const std::string replacement = "\xEF\xBF\xBD";
    const std::vector<Case> cases = {
        {"plain.txt", "plain.txt"},
        {"euro \xE2\x82\xAC", "euro \xE2\x82\xAC"},
        {"pair \xF0\x9F\x98\x80", "pair \xF0\x9F\x98\x80"},
        {"highest \xF4\x8F\xBF\xBF", "highest \xF4\x8F\xBF\xBF"},
        {"overlong \xC0\xAF.", "overlong " + replacement + "."},
        {"cut \xE2\x82.", "cut " + replacement + "."},
        {"cut at the end \xE2\x82", "cut at the end " + replacement},
        {"surrogate \xED\xA0\x80.", "surrogate " + replacement + "."},
        {"too high \xF4\x90\x80\x80.", "too high " + replacement + "."},
        {"no lead \x80.", "no lead " + replacement + "."},
        {"never a lead \xFF.", "never a lead " + replacement + "."},
    };
    const fs::path source = work / "src";
    fs::create_directories(source);
    std::string list;
    for (const Case& c : cases) {
        WriteFile(source / c.stored, "x");
        list += c.stored + '\0';
    }
    WriteFile(work / "list", list);
    Shell("tar --format=gnu -cf " + Quote((work / "names.tar").string()) + " -C " + Quote(source.string()) +
          " --null -T " + Quote((work / "list").string()));
    ContainerHandle handle = OpenOrFail(work / "names.tar");
    int32_t end = 0;
    const std::vector<EntryInfo> entries = List(handle, end);
    ASSERT_EQ(entries.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(NameOf(entries[i]), cases[i].shown) << cases[i].stored;
}

// Morvane composes targets with backslashes, and a path may hold any UTF-16, paired or not.
TEST_F(TarSubModuleTest, TargetPathsReachTheFileSystemAsUtf8) {
    fs::create_directories(work / "src");
    WriteFile(work / "src" / "f", "content");
    Shell("tar --format=gnu -cf " + Quote((work / "a.tar").string()) + " -C " + Quote((work / "src").string()) + " f");
    ContainerHandle handle = OpenOrFail(work / "a.tar");
    int32_t end = 0;
    ASSERT_EQ(List(handle, end).size(), 1u);
    fs::create_directories(work / "out" / "sub");
    const std::u16string out = text::FromUtf8((work / "out").string());
    struct Case {
        std::u16string target;
        fs::path file;
    };
    const std::vector<Case> cases = {
        {out + u"\\sub\\backslashes", work / "out" / "sub" / "backslashes"},
        {out + u"/pair \U0001F600", work / "out" / "pair \xF0\x9F\x98\x80"},
        {out + u"/lone high " + std::u16string(1, char16_t(0xD83D)) + u".", work / "out" / "lone high \xEF\xBF\xBD."},
        {out + u"/highest pair \U0010FFFF", work / "out" / "highest pair \xF4\x8F\xBF\xBF"},
        {out + u"/above the surrogates \uFF21\uFFFD", work / "out" / "above the surrogates \xEF\xBC\xA1\xEF\xBF\xBD"},
        {out + u"/pair then \U0001F600\uFF21", work / "out" / "pair then \xF0\x9F\x98\x80\xEF\xBC\xA1"},
        {out + u"/lone first " + std::u16string(1, char16_t(0xD800)) + u".", work / "out" / "lone first \xEF\xBF\xBD."},
        {out + u"/lone low " + std::u16string(1, char16_t(0xDE00)), work / "out" / "lone low \xEF\xBF\xBD"},
        {out + u"/lone last " + std::u16string(1, char16_t(0xDFFF)), work / "out" / "lone last \xEF\xBF\xBD"},
        {out + u"/reversed " + std::u16string{char16_t(0xDE00), char16_t(0xD83D)},
         work / "out" / "reversed \xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        const WideText target(c.target);
        ExtractRequest request{0, 0, target.get(), &progressCalls, RecordProgress};
        EXPECT_EQ(module.ExtractProc(handle, request), SM_EXTRACT_OK) << c.file;
        EXPECT_EQ(ReadFile(c.file), "content") << c.file;
    }
}

// ---- Times the FILETIME range can and cannot hold ---------------------------------------------

TEST_F(TarSubModuleTest, TimesBeforeFileTimeBeganAreNoTime) {
    fs::create_directories(work / "src");
    WriteFile(work / "src" / "f", "x");
    struct Case {
        const char* date;
        uint64_t fileTime;
    };
    const std::vector<Case> cases = {
        {"1970-01-01 00:00:00", FileTimeOf(0)},
        {"1960-06-30 12:00:00", FileTimeOf(-299937600)},
        {"1601-01-01 00:00:01", 10000000u},
        {"1601-01-01 00:00:00", 0},
        {"1500-01-01 00:00:00", 0},
        {"2400-01-01 00:00:00", FileTimeOf(13569465600)},
    };
    for (const Case& c : cases) {
        const fs::path archive = work / "t.tar";
        Shell(std::string("tar --format=gnu --mtime='") + c.date + " UTC' -cf " + Quote(archive.string()) + " -C " +
              Quote((work / "src").string()) + " f");
        ContainerHandle handle = OpenOrFail(archive);
        EntryInfo entry{};
        ASSERT_EQ(module.ReadEntryProc(handle, 0, &entry), SM_ENTRY_OK) << c.date;
        EXPECT_EQ(Join(entry.LastWriteTime), c.fileTime) << c.date;
        Close(handle);
    }
}

// ---- Extractions that cannot succeed ----------------------------------------------------------

TEST_F(TarSubModuleTest, ExtractionFailures) {
    const fs::path source = work / "src";
    fs::create_directories(source);
    WriteFile(source / "file.txt", RandomBytes(5000));
    fs::create_hard_link(source / "file.txt", source / "link.txt");
    Shell("cd " + Quote(source.string()) + " && truncate -s 3M sparse.bin && printf data | "
          "dd of=sparse.bin bs=1 seek=1000 conv=notrunc status=none");
    const std::string s = Quote(source.string());
    const fs::path archive = work / "a.tar";
    Shell("tar --format=gnu --sparse -cf " + Quote(archive.string()) + " -C " + s + " file.txt link.txt sparse.bin");
    // The same hard link without the member it names.
    const fs::path orphan = work / "orphan.tar";
    fs::copy_file(archive, orphan);
    Shell("tar --delete -f " + Quote(orphan.string()) + " file.txt");
    fs::create_directories(work / "out");
    WriteFile(work / "out" / "plain-file", "");

    ContainerHandle handle = OpenOrFail(archive);
    int32_t end = 0;
    ASSERT_EQ(List(handle, end).size(), 3u);
    struct Case {
        const char* what;
        int32_t index;
        std::optional<fs::path> target;
        bool withProgress;
        int32_t answer;
    };
    const std::vector<Case> cases = {
        {"an index before the first", -1, work / "out" / "x", true, kExtractUnsupported},
        {"an index not listed", 3, work / "out" / "x", true, kExtractUnsupported},
        {"no target", 0, std::nullopt, true, kExtractUnsupported},
        {"no progress function", 0, work / "out" / "x", false, kExtractUnsupported},
        {"a GNU sparse member", 2, work / "out" / "sparse.bin", true, kExtractUnsupported},
        {"a target in a missing folder", 0, work / "out" / "missing" / "x", true, SM_EXTRACT_WRITE_ERROR},
        {"a target below a plain file", 0, work / "out" / "plain-file" / "x", true, SM_EXTRACT_WRITE_ERROR},
    };
    for (const Case& c : cases) {
        std::u16string target = c.target ? text::FromUtf8(c.target->string()) : u"";
        ExtractRequest request{c.index, 0, c.target ? reinterpret_cast<const SM_WCHAR*>(target.c_str()) : nullptr,
                               &progressCalls, c.withProgress ? RecordProgress : nullptr};
        EXPECT_EQ(module.ExtractProc(handle, request), c.answer) << c.what;
        EXPECT_FALSE(fs::exists(work / "out" / "x")) << c.what;
    }
    const WideText target(work / "out" / "x");
    ExtractRequest request{0, 0, target.get(), &progressCalls, RecordProgress};
    EXPECT_EQ(module.ExtractProc(nullptr, request), kExtractUnsupported);

    // The disk fills up while writing: a file size limit stands in for it. The partial file goes.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t full = Extract(handle, 0, work / "out" / "full.txt");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(full, SM_EXTRACT_WRITE_ERROR);
    EXPECT_FALSE(fs::exists(work / "out" / "full.txt"));

    // The archive shrinks after it was listed: the data is incomplete, and no partial file stays.
    fs::resize_file(archive, 512 + 1000);
    EXPECT_EQ(Extract(handle, 0, work / "out" / "cut.txt"), SM_EXTRACT_BAD_DATA);
    EXPECT_FALSE(fs::exists(work / "out" / "cut.txt"));
    Close(handle);

    handle = OpenOrFail(orphan);
    ASSERT_EQ(List(handle, end).size(), 2u);
    EXPECT_EQ(Extract(handle, 0, work / "out" / "orphan.txt"), SM_EXTRACT_BAD_DATA);
    EXPECT_FALSE(fs::exists(work / "out" / "orphan.txt"));
    Close(handle);
}
