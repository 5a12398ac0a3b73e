// DirectoryTimes: which folders on disk get the times their archive lists for them.
#include <gtest/gtest.h>

#include "archive/DirectoryTimes.h"
#include "platform/Platform.h"
#include "support/TestFiles.h"

using namespace testing_support;

namespace {

constexpr uint32_t kDirectory = 0x10;
constexpr uint64_t kListedTime = 126227808000000000ull;  // 2001-01-01 00:00:00 UTC
constexpr uint64_t kOneDay = 864000000000ull;

std::u16string Native(const fs::path& path) { return path.u16string(); }

}  // namespace

TEST(DirectoryTimes, ListedFoldersAboveAnExtractedEntryGetTheirTimesBack) {
    struct Case {
        const char* what;
        const char16_t* listed;     // a directory entry, listed with kListedTime
        uint32_t attributes;
        const char16_t* extracted;  // the extracted entry's name
        const char* target;         // where the host put it, below the case's folder
        std::vector<const char*> restored, untouched;
    };
    const std::vector<Case> cases = {
        {"folders above the file", u"docs", kDirectory, u"docs/sub/a.txt", "out/docs/sub/a.txt", {"out/docs"}, {"out"}},
        {"backslashes and a trailing separator", u"docs\\sub\\", kDirectory, u"docs\\sub\\a.txt",
         "out/docs/sub/a.txt", {"out/docs/sub"}, {"out/docs"}},
        {"a file entry is no folder", u"docs", 0x20, u"docs/a.txt", "out/docs/a.txt", {}, {"out/docs"}},
        {"the target ends in the name, but not at a separator", u"docs", kDirectory, u"docs/a.txt",
         "out/xdocs/a.txt", {}, {"out/xdocs"}},
        {"the host put the entry elsewhere", u"docs", kDirectory, u"docs/a.txt", "out/other/b.txt", {}, {"out/other"}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const fs::path root = folder.Path();
        const fs::path target = root / c.target;
        fs::create_directories(target.parent_path());
        WriteFile(target, "x");
        // A folder given the listed time directly: what a restored folder must show.
        fs::create_directory(root / "reference");
        platform::SetDirectoryTime(Native(root / "reference"), kListedTime);
        const auto listedTime = fs::last_write_time(root / "reference");

        DirectoryTimes times;
        times.NoteListed(c.listed, c.attributes, kListedTime);
        times.NoteExtracted(c.extracted, Native(target));
        times.Restore();
        for (const char* restored : c.restored)
            EXPECT_EQ(fs::last_write_time(root / restored), listedTime) << c.what << ": " << restored;
        for (const char* untouched : c.untouched)
            EXPECT_NE(fs::last_write_time(root / untouched), listedTime) << c.what << ": " << untouched;

        // Restore forgets what it set: a second one changes nothing.
        for (const char* restored : c.restored) {
            platform::SetDirectoryTime(Native(root / restored), kListedTime + kOneDay);
            times.Restore();
            EXPECT_NE(fs::last_write_time(root / restored), listedTime) << c.what << ": restored twice";
        }
    }
}

// A host that extracts into the current folder passes the entry's name as the whole target; one
// letter more before it is a folder of the host's own.
TEST(DirectoryTimes, ATargetThatIsTheNameItselfIsInTheCurrentFolder) {
    const struct {
        const char* target;
        const char* folder;
        bool restored;
    } cases[] = {{"docs/a.txt", "docs", true}, {"xdocs/a.txt", "xdocs", false}};
    for (const auto& c : cases) {
        TempFolder folder;
        const fs::path previous = fs::current_path();
        fs::current_path(folder.Path());
        fs::create_directories(c.folder);
        WriteFile(c.target, "x");
        fs::create_directory("reference");
        platform::SetDirectoryTime(u"reference", kListedTime);

        DirectoryTimes times;
        times.NoteListed(u"docs", kDirectory, kListedTime);
        times.NoteExtracted(u"docs/a.txt", fs::u8path(c.target).u16string());
        times.Restore();
        const bool restored = fs::last_write_time(c.folder) == fs::last_write_time("reference");
        fs::current_path(previous);
        EXPECT_EQ(restored, c.restored) << c.target;
    }
}
