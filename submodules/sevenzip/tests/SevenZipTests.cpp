// The sevenzip sub-module over archives that tests/sevenzip/make_samples.sh made with Debian's
// tools: every listing against `7z l -slt`, every extracted file against `7z x` and the source
// tree, passwords, claims, extraction order, damaged archives, threads; then the module library
// itself through its two exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "Callbacks.h"
#include "Container.h"
#include "FormatLibrary.h"
#include "Streams.h"
#include "ModuleSettings.h"
#include "SystemAccess.h"
#include "modules/SubModuleContract.h"
#include "support/TestFiles.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using namespace testing_support;
using sevenzip::Container;

namespace {

fs::path Sample(const std::string& relative) { return fs::u8path(SEVENZIP_SAMPLES) / fs::u8path(relative); }

const sevenzip::FormatLibrary& Library() {
    static const std::unique_ptr<sevenzip::FormatLibrary> library = [] {
        std::string problem;
        auto loaded = sevenzip::FormatLibrary::Load(U16(fs::u8path(SEVENZIP_MODULE).parent_path().u8string() + "/"), problem);
        if (!loaded) throw std::runtime_error(problem);
        return loaded;
    }();
    return *library;
}

std::string NameOf(const EntryInfo& info) {
    std::u16string name;
    for (size_t i = 0; i < SM_NAME_LENGTH && info.Name[i]; ++i) name += char16_t(info.Name[i] == u'\\' ? u'/' : info.Name[i]);
    return Utf8(name);
}

// A FILETIME as "YYYY-MM-DD HH:MM:SS" in UTC, "-" for none.
std::string TimeText(const SM_FILETIME& time) {
    const uint64_t ticks = uint64_t(time.HighDateTime) << 32 | time.LowDateTime;
    if (ticks == 0) return "-";
    int64_t seconds = int64_t(ticks / 10000000) - 11644473600;
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    seconds -= days * 86400;
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    const int64_t z = days + 719468, era = (z >= 0 ? z : z - 146096) / 146097, doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153, day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", int(year), int(month), int(day), int(seconds / 3600),
                  int(seconds / 60 % 60), int(seconds % 60));
    return text;
}

std::string Line(const EntryInfo& info) {
    const bool directory = info.Attributes & 0x10;
    return std::string(directory ? "d" : "f") + "|" + std::to_string(info.UnpackedSize) + "|" + TimeText(info.LastWriteTime) +
           "|" + ((info.Attributes & 1) ? "1" : "0") + "|" + NameOf(info);
}

std::vector<std::string> Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

struct Case {
    std::string file;
    std::string password;
    std::string source;  // the folder it was made of, or "-"
    std::string Name() const { return file.size() > 4 && file.compare(file.size() - 4, 4, ".001") == 0 ? file.substr(0, file.size() - 4) : file; }
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const std::string& line : Lines(Sample("cases.txt"))) {
        std::stringstream fields(line);
        Case c;
        std::getline(fields, c.file, '|');
        std::getline(fields, c.password, '|');
        std::getline(fields, c.source, '|');
        cases.push_back(c);
    }
    return cases;
}

// "k=v|k=v" as a settings text: "k=v\0k=v\0\0".
std::u16string SettingsText(const std::u16string& items) {
    std::u16string text = items + u'\0' + u'\0';
    for (char16_t& c : text)
        if (c == u'|') c = 0;
    return text;
}

int32_t SM_CALL CountProgress(void* context, int32_t amount, int32_t) {
    if (context) *static_cast<int64_t*>(context) += amount;
    return 1;
}

// Opens an archive through the module's pieces, as the exports do. The settings must outlive the
// container, as the module's own do.
const sevenzip::ModuleSettings defaultSettings;
struct Opened {
    int32_t answer = -1;
    std::unique_ptr<Container> container;
};
Opened Open(const fs::path& archive, const char* password, const sevenzip::ModuleSettings& settings = defaultSettings) {
    Opened opened;
    opened.answer = Container::Open(U16(archive.u8string()), password, Library(), settings, opened.container);
    return opened;
}

int32_t Extract(Container& container, int32_t index, const fs::path& target, int64_t* progress = nullptr) {
    const std::u16string path = U16(target.u8string());
    ExtractRequest request{index, 0, reinterpret_cast<const SM_WCHAR*>(path.c_str()), progress, &CountProgress};
    return container.Extract(request);
}

// Lists the archive and extracts every file under `out` by its name, in listing order: the
// listing lines, and the first failure.
std::vector<std::string> Walk(Container& container, const fs::path& out, std::string& failure) {
    std::vector<std::string> lines;
    for (int32_t index = 0;; ++index) {
        EntryInfo info{};
        const int32_t read = container.ReadEntry(index, info);
        if (read == SM_ENTRY_END) break;
        if (read != SM_ENTRY_OK) {
            failure = "ReadEntry(" + std::to_string(index) + ") answered " + std::to_string(read);
            break;
        }
        lines.push_back(Line(info));
        const fs::path target = out / fs::u8path(NameOf(info));
        fs::create_directories(target.parent_path());
        if (info.Attributes & 0x10) continue;
        int64_t progress = 0;
        const int32_t extracted = Extract(container, index, target, &progress);
        if (extracted != SM_EXTRACT_OK && failure.empty()) failure = NameOf(info) + ": Extract answered " + std::to_string(extracted);
        // Progress counts what was written (an installer may list a size of 0 for a file it holds).
        if (extracted == SM_EXTRACT_OK && uint64_t(progress) != fs::file_size(target) && failure.empty())
            failure = NameOf(info) + ": progress " + std::to_string(progress) + " of " + std::to_string(fs::file_size(target));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The files of a folder, by their names relative to it.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) files[fs::relative(item.path(), folder).generic_u8string()] = ReadFile(item.path());
    return files;
}

}  // namespace

TEST(SevenZip, EveryArchiveListsAs7ZipDoesAndExtractsTheSameBytes) {
    const std::vector<Case> cases = Cases();
    ASSERT_GT(cases.size(), 20u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Opened opened = Open(Sample("archives/" + c.file), c.password.empty() ? nullptr : c.password.c_str());
        ASSERT_EQ(opened.answer, SM_OPEN_OK);
        ASSERT_TRUE(opened.container->Prepare());
        TempFolder out;
        std::string failure;
        const std::vector<std::string> listed = Walk(*opened.container, out.Path(), failure);
        EXPECT_EQ(failure, "");
        EXPECT_EQ(listed, Lines(Sample("expected/" + c.Name() + ".txt")));
        // In listing order every file comes from one extraction run.
        EXPECT_LE(opened.container->ExtractionRuns(), 1);
        const auto extracted = Contents(out.Path());
        EXPECT_TRUE(extracted == Contents(Sample("reference/" + c.Name()))) << "differs from what 7z x extracts";
        if (c.source == "-") continue;
        for (const auto& file : Contents(Sample(c.source)))
            EXPECT_EQ(extracted.count(file.first) ? extracted.at(file.first) : "(missing)", file.second) << file.first;
    }
}

TEST(SevenZip, NestedArchivesOpenAsWhatTheyHold) {
    struct Nesting {
        std::string file;
        size_t depth;
        std::string innermost;
    };
    const std::vector<Nesting> nestings = {
        {"split.7z.001", 2, "7z"}, {"tar.tar.gz", 2, "tar"}, {"tar.tar.xz", 2, "tar"},   {"disk.vhd", 2, "Ext"},
        {"disk.qcow2", 2, "Ext"}, {"fixed.vhd", 1, "Ext"},    {"package.msi", 2, "Cab"}, {"installer.exe", 1, "Nsis"},
    };
    for (const Nesting& n : nestings) {
        Opened opened = Open(Sample("archives/" + n.file), nullptr);
        ASSERT_EQ(opened.answer, SM_OPEN_OK) << n.file;
        ASSERT_TRUE(opened.container->Prepare());
        EXPECT_EQ(opened.container->Chain().Depth(), n.depth) << n.file;
        EXPECT_EQ(Utf8(opened.container->Chain().Innermost().format->name), n.innermost) << n.file;
    }
    // Nested=0 shows the single item as it is, named after the archive.
    sevenzip::ModuleSettings flat;
    flat.nested = false;
    Opened opened = Open(Sample("archives/tar.tar.gz"), nullptr, flat);
    ASSERT_EQ(opened.answer, SM_OPEN_OK);
    ASSERT_TRUE(opened.container->Prepare());
    EntryInfo info{};
    ASSERT_EQ(opened.container->ReadEntry(0, info), SM_ENTRY_OK);
    EXPECT_EQ(NameOf(info), "tar.tar");
    EXPECT_EQ(opened.container->ReadEntry(1, info), SM_ENTRY_END);
}

TEST(SevenZip, PasswordsOfEncryptedHeadersAndDataAreHeldAgainstTheArchive) {
    struct Attempt {
        const char* password;
        int32_t answer;
    };
    const std::vector<Attempt> attempts = {
        {nullptr, SM_OPEN_NEED_PASSWORD}, {"", SM_OPEN_NEED_PASSWORD},        {"wrong", SM_OPEN_NEED_PASSWORD},
        {"secre", SM_OPEN_NEED_PASSWORD}, {"secret ", SM_OPEN_NEED_PASSWORD}, {"secret", SM_OPEN_OK},
    };
    for (const char* archive : {"headers.7z", "data.7z", "aes.zip", "zipcrypto.zip"})
        for (const Attempt& attempt : attempts)
            EXPECT_EQ(Open(Sample(std::string("archives/") + archive), attempt.password).answer, attempt.answer)
                << archive << " with " << (attempt.password ? attempt.password : "(none)");
    // A later entry with another password fails to extract and leaves nothing behind.
    Opened opened = Open(Sample("encrypted/wrong.zip"), "secret");
    ASSERT_EQ(opened.answer, SM_OPEN_OK);
    ASSERT_TRUE(opened.container->Prepare());
    TempFolder out;
    EntryInfo info{};
    ASSERT_EQ(opened.container->ReadEntry(1, info), SM_ENTRY_OK);
    EXPECT_EQ(Extract(*opened.container, 0, out.Path() / "one.txt"), SM_EXTRACT_OK);
    EXPECT_EQ(Extract(*opened.container, 1, out.Path() / "two.txt"), SM_EXTRACT_BAD_DATA);
    EXPECT_FALSE(fs::exists(out.Path() / "two.txt"));
    EXPECT_EQ(ReadFile(out.Path() / "one.txt"), "one\n");
}

TEST(SevenZip, OnlyArchivesThatAHandlerOpensAreClaimed) {
    for (const auto& item : fs::directory_iterator(Sample("foreign")))
        EXPECT_EQ(Open(item.path(), nullptr).answer, SM_OPEN_NOT_MINE) << item.path().filename().u8string();
    EXPECT_EQ(Open(Sample("no-such-file"), nullptr).answer, SM_OPEN_NOT_MINE);
    EXPECT_EQ(Open(Sample("foreign"), nullptr).answer, SM_OPEN_NOT_MINE);
    // Settings narrow the formats: a 7z archive without 7z, a split 7z without Split.
    sevenzip::ModuleSettings settings;
    std::string problem;
    ASSERT_TRUE(sevenzip::ParseSettings(SettingsText(u"Formats=zip;Split|Exclude=Ext").c_str(), settings, problem));
    EXPECT_EQ(Open(Sample("archives/solid.7z"), nullptr, settings).answer, SM_OPEN_NOT_MINE);
    EXPECT_EQ(Open(Sample("archives/deflate.zip"), nullptr, settings).answer, SM_OPEN_OK);
    EXPECT_EQ(Open(Sample("archives/ext4.img"), nullptr, settings).answer, SM_OPEN_NOT_MINE);
    // The split archive's parts open, but what they hold is no format it may use: the joined file.
    Opened split = Open(Sample("archives/split.7z.001"), nullptr, settings);
    ASSERT_EQ(split.answer, SM_OPEN_OK);
    EXPECT_EQ(split.container->Chain().Depth(), 1u);
}

TEST(SevenZip, ExtractionRunsOnceInOrderAndStartsAgainOnlyWhenTheHostGoesBack) {
    Opened opened = Open(Sample("special/solid.7z"), nullptr);
    ASSERT_EQ(opened.answer, SM_OPEN_OK);
    ASSERT_TRUE(opened.container->Prepare());
    TempFolder out;
    std::vector<int32_t> files;
    std::vector<std::string> names;
    for (int32_t index = 0;; ++index) {
        EntryInfo info{};
        if (opened.container->ReadEntry(index, info) != SM_ENTRY_OK) break;
        if (info.Attributes & 0x10) continue;
        files.push_back(index);
        names.push_back(NameOf(info));
    }
    ASSERT_EQ(files.size(), 200u);
    // "dD/fN.txt" holds "file N of folder D".
    auto content = [&](size_t i) {
        const std::string& name = names[i];
        return "file " + name.substr(4, name.size() - 8) + " of folder " + name.substr(1, 1) + "\n";
    };
    // Every other file: the ones between are read past, not written.
    for (size_t i = 0; i < files.size(); i += 2) {
        ASSERT_EQ(Extract(*opened.container, files[i], out.Path() / std::to_string(i)), SM_EXTRACT_OK);
        ASSERT_EQ(ReadFile(out.Path() / std::to_string(i)), content(i));
    }
    EXPECT_EQ(opened.container->ExtractionRuns(), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 100);
    // The same file again, and an earlier one: each starts a run of its own; later ones do not.
    EXPECT_EQ(Extract(*opened.container, files[198], out.Path() / "again"), SM_EXTRACT_OK);
    EXPECT_EQ(ReadFile(out.Path() / "again"), content(198));
    EXPECT_EQ(Extract(*opened.container, files[3], out.Path() / "3"), SM_EXTRACT_OK);
    EXPECT_EQ(opened.container->ExtractionRuns(), 3);
    EXPECT_EQ(Extract(*opened.container, files[4], out.Path() / "4"), SM_EXTRACT_OK);
    EXPECT_EQ(opened.container->ExtractionRuns(), 3);
    EXPECT_EQ(ReadFile(out.Path() / "3"), content(3));
    EXPECT_EQ(ReadFile(out.Path() / "4"), content(4));
}

TEST(SevenZip, LinksBecomeFilesThatHoldTheirTargetOrItsData) {
    Opened opened = Open(Sample("special/links.tar"), nullptr);
    ASSERT_EQ(opened.answer, SM_OPEN_OK);
    ASSERT_TRUE(opened.container->Prepare());
    TempFolder out;
    std::string failure;
    const std::vector<std::string> listed = Walk(*opened.container, out.Path(), failure);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(ReadFile(out.Path() / "hardlink.txt"), "target data\n");
    EXPECT_EQ(ReadFile(out.Path() / "symlink"), "target.txt");
    EXPECT_FALSE(fs::is_symlink(out.Path() / "symlink"));
    EXPECT_EQ(listed.size(), 3u);
}

// A name longer than the record is cut to fit it, its terminator inside.
TEST(SevenZip, NamesLongerThanTheRecordAreCutWithinIt) {
    Opened opened = Open(Sample("special/long-name.7z"), nullptr);
    ASSERT_EQ(opened.answer, SM_OPEN_OK);
    ASSERT_TRUE(opened.container->Prepare());
    size_t longest = 0;
    EntryInfo info{};
    for (int32_t index = 0; opened.container->ReadEntry(index, info) == SM_ENTRY_OK; ++index) {
        const size_t length = std::find(info.Name, info.Name + SM_NAME_LENGTH, u'\0') - info.Name;
        ASSERT_LT(length, size_t(SM_NAME_LENGTH)) << "no terminator in the record";
        longest = std::max(longest, length);
    }
    EXPECT_EQ(longest, size_t(SM_NAME_LENGTH - 1));
}

TEST(SevenZip, DamagedArchivesGiveResultCodesAndNoPartialFiles) {
    int archives = 0, opened = 0, failed = 0;
    for (const auto& item : fs::directory_iterator(Sample("damaged"))) {
        SCOPED_TRACE(item.path().filename().u8string());
        ++archives;
        Opened open = Open(item.path(), "secret");
        ASSERT_TRUE(open.answer == SM_OPEN_OK || open.answer == SM_OPEN_NOT_MINE || open.answer == SM_OPEN_NEED_PASSWORD);
        if (open.answer != SM_OPEN_OK) continue;
        ++opened;
        if (!open.container->Prepare()) continue;
        TempFolder out;
        for (int32_t index = 0; index < 10000; ++index) {
            EntryInfo info{};
            const int32_t read = open.container->ReadEntry(index, info);
            if (read != SM_ENTRY_OK) break;
            if (info.Attributes & 0x10) continue;
            const fs::path target = out.Path() / "file";
            const int32_t answer = Extract(*open.container, index, target);
            if (answer == SM_EXTRACT_OK) {
                EXPECT_EQ(fs::file_size(target), info.UnpackedSize) << NameOf(info);
            } else {
                ++failed;
                EXPECT_TRUE(answer == SM_EXTRACT_BAD_DATA || answer == SM_EXTRACT_READ_ERROR || answer == 4) << answer;
                EXPECT_FALSE(fs::exists(target)) << NameOf(info) << " was left behind";
            }
            fs::remove(target);
        }
    }
    std::printf("%d damaged archives, %d opened, %d extractions failed\n", archives, opened, failed);
    EXPECT_GT(archives, 60);
    EXPECT_GT(opened, 20);
    EXPECT_GT(failed, 10);
}

TEST(SevenZip, TwoThreadsProduceWhatOneThreadDoes) {
    const std::vector<std::string> archives = {"solid.7z", "tar.tar.gz", "disk.vhdx", "aes.zip", "split.7z.001", "udf.iso"};
    auto walk = [](const std::string& archive) {
        Opened opened = Open(Sample("archives/" + archive), "secret");
        if (opened.answer != SM_OPEN_OK || !opened.container->Prepare()) return std::string("not opened");
        TempFolder out;
        std::string failure;
        std::string all;
        for (const std::string& line : Walk(*opened.container, out.Path(), failure)) all += line + "\n";
        for (const auto& file : Contents(out.Path())) all += file.first + ":" + std::to_string(std::hash<std::string>()(file.second)) + "\n";
        return all + failure;
    };
    std::vector<std::string> alone;
    for (const std::string& archive : archives) alone.push_back(walk(archive));
    for (size_t first = 0; first < archives.size(); ++first) {
        const size_t second = (first + 1) % archives.size();
        std::string a, b;
        std::thread one([&] { a = walk(archives[first]); });
        std::thread two([&] { b = walk(archives[second]); });
        one.join();
        two.join();
        EXPECT_EQ(a, alone[first]) << archives[first];
        EXPECT_EQ(b, alone[second]) << archives[second];
    }
}

TEST(SevenZip, EntryAttributesFromWindowsBitsOrAUnixMode) {
    using sevenzip::EntryAttributes;
    struct Row {
        bool directory, hasWindows;
        uint32_t windows;
        bool hasUnix;
        uint32_t unix, expected;
    };
    const std::vector<Row> rows = {
        {false, false, 0, false, 0, 0x20},          {true, false, 0, false, 0, 0x10},
        {false, true, 0x27, false, 0, 0x27},        {false, true, 0x100 | 0x80, false, 0, 0x20},
        {false, true, 0x8000 | (0444u << 16), false, 0, 0x21}, {false, true, 0x8000 | (0644u << 16), false, 0, 0x20},
        {false, true, 0x8000 | (0444u << 16), true, 0644, 0x20}, {false, false, 0, true, 0100444, 0x21},
        {false, false, 0, true, 0200, 0x20},        {true, false, 0, true, 0555, 0x10},
        {true, true, 0x16, false, 0, 0x16},         {false, true, 0x0444 << 16, false, 0, 0x20},
    };
    for (const Row& row : rows)
        EXPECT_EQ(EntryAttributes(row.directory, row.hasWindows, row.windows, row.hasUnix, row.unix), row.expected)
            << row.windows << " " << row.unix;
}

TEST(SevenZip, DefaultNamesAre7ZipsOwn) {
    const sevenzip::Format* gzip = Library().Find(u"GZIP");
    const sevenzip::Format* vhd = Library().Find(u"vhd");
    ASSERT_TRUE(gzip && vhd);
    struct Row {
        const sevenzip::Format* format;
        std::u16string file, expected;
    };
    const std::vector<Row> rows = {
        {gzip, u"x.tar.gz", u"x.tar"}, {gzip, u"x.TGZ", u"x.tar"},     {gzip, u"x.gz", u"x"},   {gzip, u"x.other", u"x"},
        {gzip, u"x", u"x~"},           {gzip, u"x.gz ", u"x"},        {vhd, u"disk.vhd", u"disk"}, {vhd, u".vhd", u".vhd~"},
        {gzip, u"a.b.tgz", u"a.b.tar"}, {gzip, u"gz", u"gz~"},
    };
    for (const Row& row : rows) EXPECT_EQ(Utf8(sevenzip::DefaultName(row.file, *row.format)), Utf8(row.expected)) << Utf8(row.file);
}

TEST(SevenZip, SeeksVolumeNamesAndSignaturesFollow7ZipsRules) {
    struct Seek {
        uint64_t current, size;
        int64_t offset;
        uint32_t origin;
        bool ok;
        uint64_t target;
    };
    const std::vector<Seek> seeks = {
        {5, 100, 10, sevenzip::kSeekSet, true, 10},     {5, 100, 10, sevenzip::kSeekCurrent, true, 15},
        {5, 100, -10, sevenzip::kSeekEnd, true, 90},    {5, 100, -5, sevenzip::kSeekCurrent, true, 0},
        {5, 100, -6, sevenzip::kSeekCurrent, false, 0}, {5, 100, -101, sevenzip::kSeekEnd, false, 0},
        {5, 100, 50, sevenzip::kSeekEnd, true, 150},    {5, 100, 0, 3, false, 0},
        {5, 100, -1, sevenzip::kSeekSet, false, 0},     {0, 0, INT64_MIN, sevenzip::kSeekEnd, false, 0},
    };
    for (const Seek& seek : seeks) {
        uint64_t target = 0;
        EXPECT_EQ(sevenzip::SeekTarget(seek.current, seek.size, seek.offset, seek.origin, target), seek.ok)
            << seek.offset << " from " << seek.origin;
        if (!seek.ok) continue;
        EXPECT_EQ(target, seek.target) << seek.offset << " from " << seek.origin;
    }
    for (const std::u16string name : {u"x.7z.002", u"x", u"..x", u"a b.001"}) EXPECT_TRUE(sevenzip::IsPlainFileName(name));
    for (const std::u16string& name : std::vector<std::u16string>{u"", u".", u"..", u"../x.002", u"d/x", u"d\\x", u"C:x",
                                                                std::u16string(u"x\0y", 3)})
        EXPECT_FALSE(sevenzip::IsPlainFileName(name)) << Utf8(name);

    const sevenzip::Format* sevenZip = Library().Find(u"7z");
    const sevenzip::Format* tar = Library().Find(u"TAR");
    const sevenzip::Format* split = Library().Find(u"split");
    ASSERT_TRUE(sevenZip && tar && split);
    EXPECT_TRUE(sevenZip->SignatureMatches(ReadFile(Sample("archives/solid.7z")).substr(0, 64)));
    EXPECT_FALSE(sevenZip->SignatureMatches(std::string("7z\xBC\xAF\x27", 5)));
    std::string ustar(512, '\0');
    ustar.replace(257, 5, "ustar");
    EXPECT_TRUE(tar->SignatureMatches(ustar));
    EXPECT_FALSE(tar->SignatureMatches(ustar.substr(0, 261)));
    EXPECT_FALSE(split->SignatureMatches(ustar));
    EXPECT_TRUE(split->HasExtension(u"001"));
    EXPECT_FALSE(split->HasExtension(u""));
    EXPECT_FALSE(split->HasExtension(u"002"));
    EXPECT_TRUE(Library().Find(u"gzip")->CompressesOneStream());
    EXPECT_FALSE(sevenZip->CompressesOneStream());
    EXPECT_FALSE(Library().Find(u"lzma")->CompressesOneStream());
    EXPECT_EQ(Library().Find(u"rar"), nullptr);  // no RAR decoder in Debian's sources
    EXPECT_GE(Library().SignatureReach(), 32769u + 5);  // ISO 9660's "CD001"
}

// ---- The module library through its exports --------------------------------------------------

namespace {

class Module {
public:
    explicit Module(const std::u16string& settings = u"") {
#if defined(_WIN32)
        library_ = LoadLibraryW(fs::u8path(SEVENZIP_MODULE).wstring().c_str());
#else
        library_ = dlopen(SEVENZIP_MODULE, RTLD_NOW | RTLD_LOCAL);
#endif
        if (!library_) throw std::runtime_error("the module did not load");
        const std::u16string text = SettingsText(settings);
        SubModuleInterface iface{};
        iface.SettingsText = reinterpret_cast<const SM_WCHAR*>(text.c_str());
        accepted = Symbol<LoadSubModuleFunction>("LoadSubModule")(&iface) != 0;
        ops = iface;
    }
    ~Module() {
        if (accepted) Symbol<UnloadSubModuleFunction>("UnloadSubModule")();
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(library_));
#else
        dlclose(library_);
#endif
    }
    bool accepted = false;
    SubModuleInterface ops{};

private:
    template <typename Function>
    Function Symbol(const char* name) {
#if defined(_WIN32)
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library_), name)));
#else
        return reinterpret_cast<Function>(dlsym(library_, name));
#endif
    }
    void* library_ = nullptr;
};

}  // namespace

TEST(SevenZipModule, AcceptsUsableSettingsOnlyAndAnswersThroughTheContract) {
    for (const std::u16string refused : {u"Formats=", u"Formats=nosuch", u"Exclude=7z;nosuch", u"Nested=2", u"Formats=\u00e9"})
        EXPECT_FALSE(Module(refused).accepted) << Utf8(refused);
    EXPECT_TRUE(Module(u"Formats=7Z;zip|Nested=0|Unknown=1").accepted);

    const Module module;
    ASSERT_TRUE(module.accepted);
    const std::u16string path = U16(Sample("archives/headers.7z").u8string());
    for (const char* password : {static_cast<const char*>(nullptr), "secret"}) {
        ContainerHandle handle = nullptr;
        OpenRequest request{reinterpret_cast<const SM_WCHAR*>(path.c_str()), password, 0, 0};
        const int32_t answer = module.ops.OpenProc(request, &handle, nullptr);
        if (!password) {
            EXPECT_EQ(answer, SM_OPEN_NEED_PASSWORD);
            EXPECT_EQ(handle, nullptr);
            continue;
        }
        ASSERT_EQ(answer, SM_OPEN_OK);
        ASSERT_NE(module.ops.PrepareProc(handle), 0);
        TempFolder out;
        EntryInfo info{};
        int32_t index = 0;
        while (module.ops.ReadEntryProc(handle, index, &info) == SM_ENTRY_OK && NameOf(info) != "hello.txt") ++index;
        const std::u16string target = U16((out.Path() / "hello.txt").u8string());
        int64_t progress = 0;
        // Requests for no entry, or without a target or a progress callback, are refused before
        // anything is written.
        EXPECT_EQ(module.ops.ReadEntryProc(handle, -1, &info), SM_ENTRY_ERROR);
        for (const ExtractRequest unusable :
             {ExtractRequest{index, 0, nullptr, &progress, &CountProgress},
              ExtractRequest{index, 0, reinterpret_cast<const SM_WCHAR*>(target.c_str()), &progress, nullptr},
              ExtractRequest{1000, 0, reinterpret_cast<const SM_WCHAR*>(target.c_str()), &progress, &CountProgress}})
            EXPECT_EQ(module.ops.ExtractProc(handle, unusable), 4) << unusable.EntryIndex;
        EXPECT_FALSE(fs::exists(out.Path() / "hello.txt"));
        ExtractRequest extract{index, 0, reinterpret_cast<const SM_WCHAR*>(target.c_str()), &progress, &CountProgress};
        EXPECT_EQ(module.ops.ExtractProc(handle, extract), SM_EXTRACT_OK);
        EXPECT_EQ(ReadFile(out.Path() / "hello.txt"), ReadFile(Sample("tree/hello.txt")));
        EXPECT_EQ(progress, 30);
        module.ops.CloseProc(handle);
    }
}
