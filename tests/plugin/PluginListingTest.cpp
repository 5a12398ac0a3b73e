// Listing through ReadHeaderExW and ReadHeader: indexes, numbering, sizes, times and answers.
#include <gtest/gtest.h>

#include <cstring>

#include "support/Containers.h"
#include "support/PluginUnderTest.h"

using namespace testing_support;

namespace {

// 2024-05-17 13:45:31 and 1979-06-01 12:00:00 in Asia/Tokyo (UTC+9), which the tests run in. A zone
// without summer time, because Windows converts with today's bias rather than the date's.
constexpr uint64_t kMay2024 = 133603947310000000ull;
constexpr uint64_t kJune1979 = 119415276000000000ull;

// What the host reads for them, and for attributes 0x21, 0x20 and all bits set: DOS stamps and
// the bits themselves on Windows; Unix time, st_mode and '/' between name parts on Unix hosts.
#if defined(PK_UNIX_HOST)
constexpr uint32_t kMay2024Shown = 1715921131u;  // 2024-05-17 04:45:31 UTC
constexpr int kReadOnlyFileShown = 0100444, kFileShown = 0100644, kAllBitsShown = 040555;
const std::u16string kDocsGuideShown[] = {u"Docs.old/Guide", u"Docs,1.old/Guide"};
#else
constexpr uint32_t kMay2024Shown = 0x58B16DAFu;
constexpr int kReadOnlyFileShown = 0x21, kFileShown = 0x20, kAllBitsShown = -1;
const std::u16string kDocsGuideShown[] = {u"Docs.old\\Guide", u"Docs,1.old\\Guide"};
#endif

class PluginListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.AddModule("m");
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nm=m" TESTMODULE_SUFFIX "\n[m]\n" +
                                                        folder.LogSetting() + "\n");
        plugin = std::make_unique<PluginUnderTest>(folder);
    }
    PK_HANDLE OpenEntries(const std::string& entries) {
        path = WriteContainer(folder.folder.Path() / ("list" + std::to_string(counter++) + ".bin"),
                              "open\tm\t1\n" + entries);
        PK_HANDLE handle = plugin->Open(path);
        EXPECT_NE(handle, nullptr);
        return handle;
    }
    // Every header until the listing ends, with the answer that ended it.
    std::vector<std::u16string> ListNames(PK_HANDLE handle, int& end) {
        std::vector<std::u16string> names;
        for (;;) {
            const tHeaderDataExW header = plugin->NextHeader(handle, &end);
            if (end != 0) return names;
            names.push_back(FromW(header.FileName));
        }
    }
    std::vector<int> IndexesAsked() const {
        std::vector<int> indexes;
        for (const auto& line : CallsNamed(folder.LogPath(), "ReadEntryProc"))
            indexes.push_back(std::stoi(Field(line, "index")));
        return indexes;
    }

    ModuleFolder folder;
    std::unique_ptr<PluginUnderTest> plugin;
    std::u16string path;
    int counter = 0;
};

std::string Entries(const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) lines += "entry\tname=" + name + "\n";
    return lines;
}

}  // namespace

TEST_F(PluginListingTest, RepeatedNamesAreNumbered) {
    struct Case {
        std::vector<std::string> listed;
        std::vector<std::u16string> shown;
    };
    const std::vector<Case> cases = {
        {{"report.txt", "report.txt", "report.txt"}, {u"report.txt", u"report,1.txt", u"report,2.txt"}},
        {{"README", "README"}, {u"README", u"README,1"}},
        {{"a.b.c", "a.b.c"}, {u"a.b.c", u"a.b,1.c"}},
        {{"Docs.old\\Guide", "Docs.old\\Guide"}, {kDocsGuideShown[0], kDocsGuideShown[1]}},
        {{".profile", ".profile"}, {u".profile", u",1.profile"}},
        {{"", ""}, {u"", u",1"}},
        {{"Readme.txt", "README.TXT"}, {u"Readme.txt", u"README.TXT"}},
        {{"x.txt", "x,1.txt", "x.txt"}, {u"x.txt", u"x,1.txt", u"x,1.txt"}},
    };
    for (const Case& c : cases) {
        PK_HANDLE handle = OpenEntries(Entries(c.listed));
        int end = 0;
        EXPECT_EQ(ListNames(handle, end), c.shown) << c.listed[0];
        EXPECT_EQ(end, E_END_ARCHIVE);
        plugin->CloseArchive(handle);
    }
}

TEST_F(PluginListingTest, IndexesAnswersAndTheEnd) {
    PK_HANDLE handle = OpenEntries("entry\tname=a\nentry\tname=b\n");
    int end = 0;
    EXPECT_EQ(ListNames(handle, end).size(), 2u);
    EXPECT_EQ(end, E_END_ARCHIVE);
    plugin->NextHeader(handle, &end);  // after the end the next index is asked again
    EXPECT_EQ(end, E_END_ARCHIVE);
    EXPECT_EQ(IndexesAsked(), (std::vector<int>{0, 1, 2, 3}));
    plugin->CloseArchive(handle);

    handle = OpenEntries("entry\tname=ok\nentry\tname=broken\tanswer=0\nentry\tname=odd.txt\tanswer=5\tsize=9\n"
                         "entry\tname=odd.txt\tanswer=5\n");
    tHeaderDataExW header = plugin->NextHeader(handle, &end);
    EXPECT_EQ(end, 0);
    std::memset(&header, 0x5A, sizeof header);
    EXPECT_EQ(plugin->ReadHeaderExW(handle, &header), E_BAD_ARCHIVE);
    EXPECT_EQ(static_cast<unsigned char>(header.FileName[0] & 0xFF), 0x5A);  // not written
    // An answer outside the contract fills the header but never numbers the name.
    header = plugin->NextHeader(handle, &end);
    EXPECT_EQ(end, 0);
    EXPECT_EQ(FromW(header.FileName), u"odd.txt");
    EXPECT_EQ(header.UnpSize, 9u);
    header = plugin->NextHeader(handle, &end);
    EXPECT_EQ(FromW(header.FileName), u"odd.txt");
    plugin->CloseArchive(handle);
}

TEST_F(PluginListingTest, HeaderFields) {
    PK_HANDLE handle = OpenEntries(
        "entry\tname=big.iso\tsize=6442450944\tpacked=5368709120\tattr=0x21\tmtime=" + std::to_string(kMay2024) +
        "\nentry\tname=old.txt\tattr=0xFFFFFFFF\tmtime=" + std::to_string(kJune1979) + "\nentry\tname=timeless\n");
    tHeaderDataExW header{};
    header.Flags = 7;
    header.UnpVer = 8;
    header.Method = 9;
    std::memset(header.Reserved, 1, sizeof header.Reserved);
    EXPECT_EQ(plugin->ReadHeaderExW(handle, &header), 0);
    EXPECT_EQ(FromW(header.ArcName), path);
    EXPECT_EQ(FromW(header.FileName), u"big.iso");
    EXPECT_EQ(header.UnpSize, 0x80000000u);
    EXPECT_EQ(header.UnpSizeHigh, 1u);
    EXPECT_EQ(header.PackSize, 0x40000000u);
    EXPECT_EQ(header.PackSizeHigh, 1u);
    EXPECT_EQ(header.FileAttr, kReadOnlyFileShown);
    EXPECT_EQ(uint32_t(header.FileTime), kMay2024Shown);
    EXPECT_EQ(header.HostOS, 0);
    EXPECT_EQ(header.FileCRC, 0);
    EXPECT_EQ(header.Flags, 7);  // what the host wrote stays
    EXPECT_EQ(header.UnpVer, 8);
    EXPECT_EQ(header.Method, 9);
    for (char byte : header.Reserved) ASSERT_EQ(byte, 0);

    EXPECT_EQ(plugin->ReadHeaderExW(handle, &header), 0);
    EXPECT_EQ(header.FileAttr, kAllBitsShown);
#if defined(PK_UNIX_HOST)
    EXPECT_EQ(header.FileTime, 297054000);  // 1979-06-01 03:00:00 UTC
#else
    EXPECT_EQ(uint32_t(header.FileTime) >> 25, 127u);  // 1979 wraps around
#endif
    EXPECT_EQ(plugin->ReadHeaderExW(handle, &header), 0);
    EXPECT_EQ(header.FileTime, 0);
    plugin->CloseArchive(handle);
}

TEST_F(PluginListingTest, LongNamesStayInsideTheirFields) {
    PK_HANDLE handle = OpenEntries("entry\tname-fill=1024:n\nentry\tname-fill=1024:n\nentry\tname-fill=1022:q\n"
                                   "entry\tname-fill=1022:q\nentry\tname-fill=1020:r\nentry\tname-fill=1020:r\n");
    int end = 0;
    const std::vector<std::u16string> names = ListNames(handle, end);
    ASSERT_EQ(names.size(), 6u);
    EXPECT_EQ(names[0], std::u16string(1023, u'n'));
    EXPECT_EQ(names[1], std::u16string(1023, u'n'));  // numbered, then cut
    EXPECT_EQ(names[3], std::u16string(1022, u'q') + u",");
    EXPECT_EQ(names[5], std::u16string(1020, u'r') + u",1");
    plugin->CloseArchive(handle);
}

TEST_F(PluginListingTest, AnsiHeader) {
    PK_HANDLE handle = OpenEntries("entry\tname=plain.txt\tsize=5368709120\tpacked=3\tattr=0x20\tmtime=" +
                                   std::to_string(kMay2024) + "\nentry\tname-fill=300:l\n");
    tHeaderData header{};
    header.Flags = 7;
    header.HostOS = 6;
    EXPECT_EQ(plugin->ReadHeader(handle, &header), 0);
    EXPECT_STREQ(header.FileName, "plain.txt");
    EXPECT_EQ(std::string(header.ArcName), Utf8(path));
    EXPECT_EQ(header.UnpSize, 0x40000000);
    EXPECT_EQ(header.PackSize, 3);
    EXPECT_EQ(header.FileAttr, kFileShown);
    EXPECT_EQ(uint32_t(header.FileTime), kMay2024Shown);
    EXPECT_EQ(header.Flags, 7);
    EXPECT_EQ(header.HostOS, 6);
    // A name too long for the 260-byte field is cut and terminated inside it.
    EXPECT_EQ(plugin->ReadHeader(handle, &header), 0);
    EXPECT_EQ(std::string(header.FileName), std::string(259, 'l'));
    // The end leaves the record as it was.
    EXPECT_EQ(plugin->ReadHeader(handle, &header), E_END_ARCHIVE);
    EXPECT_EQ(std::string(header.FileName), std::string(259, 'l'));
    plugin->CloseArchive(handle);
}

TEST_F(PluginListingTest, InvalidHandlesCallNoModule) {
    tHeaderDataExW header{};
    tHeaderData ansi{};
    for (PK_HANDLE handle : {reinterpret_cast<PK_HANDLE>(UINTPTR_MAX), static_cast<PK_HANDLE>(nullptr)}) {
        EXPECT_EQ(plugin->ReadHeaderExW(handle, &header), E_EOPEN);
        EXPECT_EQ(plugin->ReadHeader(handle, &ansi), E_EOPEN);
        EXPECT_EQ(plugin->ProcessFileW(handle, PK_EXTRACT, nullptr, nullptr), E_EOPEN);
        EXPECT_EQ(plugin->ProcessFile(handle, PK_EXTRACT, nullptr, nullptr), E_EOPEN);
        plugin->SetProcessDataProc(handle, nullptr);
        plugin->SetProcessDataProcW(handle, nullptr);
        plugin->SetChangeVolProc(handle, nullptr);
        plugin->SetChangeVolProcW(handle, nullptr);
    }
    EXPECT_EQ(LoggedCalls(folder.LogPath()), std::vector<std::string>{"m LoadSubModule"});
}

TEST_F(PluginListingTest, MissingHeaderRecordsReadNoEntry) {
    PK_HANDLE handle = OpenEntries("entry\tname=first\n");
    EXPECT_EQ(plugin->ReadHeaderExW(handle, nullptr), E_EOPEN);
    EXPECT_EQ(plugin->ReadHeader(handle, nullptr), E_EOPEN);
    EXPECT_TRUE(IndexesAsked().empty());
    int end = 0;
    EXPECT_EQ(FromW(plugin->NextHeader(handle, &end).FileName), u"first");
    EXPECT_EQ(IndexesAsked(), std::vector<int>{0});
    plugin->CloseArchive(handle);
}
