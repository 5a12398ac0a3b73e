// The destination as extract sees it: what exists, what this run wrote, names as the file system
// compares them, and each folder read from disk only once.
#include <gtest/gtest.h>

#include <cctype>

#include "DestinationIndex.h"

using namespace wcxhost;

namespace {

std::u16string Upper(const std::u16string& text) {
    std::u16string upper = text;
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    return upper;
}

struct Disk {
    std::map<std::u16string, std::vector<DestinationIndex::Entry>> folders;
    std::vector<std::u16string> listed;
    DestinationIndex Index(bool ignoreCase) {
        return DestinationIndex(
            [this](const std::u16string& folder, std::vector<DestinationIndex::Entry>& entries) {
                listed.push_back(folder);
                const auto found = folders.find(folder);
                if (found == folders.end()) return false;
                entries = found->second;
                return true;
            },
            ignoreCase ? DestinationIndex::Folder(Upper) : DestinationIndex::Folder([](const std::u16string& t) { return t; }));
    }
};

TEST(WcxhostDestinationIndex, TellsExistingFromWrittenFromNew) {
    const struct {
        const char* what;
        bool ignoreCase;
        std::u16string path;
        bool exists, directory, written;
        std::u16string writtenFor;
    } cases[] = {
        {"a file that was there", false, u"D/old.txt", true, false, false, u""},
        {"a directory that was there", false, u"D\\sub", true, true, false, u""},
        {"a new name", false, u"D/new.txt", false, false, false, u""},
        {"another case, told apart", false, u"D/OLD.TXT", false, false, false, u""},
        {"another case, not told apart", true, u"D/OLD.TXT", true, false, false, u""},
        {"written by this run", false, u"D/dup.txt", true, false, true, u"dup.txt"},
        {"written, another case, told apart", false, u"D/Dup.TXT", false, false, false, u""},
        {"written, another case, not told apart", true, u"D/Dup.TXT", true, false, true, u"dup.txt"},
        {"the folder spelled another way", true, u"d/DUP.txt", true, false, true, u"dup.txt"},
        {"in a folder that did not exist", false, u"D/new/x.txt", false, false, false, u""},
        {"written into a new folder", false, u"D/new/made.txt", true, false, true, u"new/made.txt"},
        {"a directory this run made", false, u"D/new", true, true, true, u"new"},
    };
    for (const auto& c : cases) {
        Disk disk;
        disk.folders[u"D"] = {{u"old.txt", false}, {u"sub", true}};
        DestinationIndex index = disk.Index(c.ignoreCase);
        index.Wrote(u"D/dup.txt", u"dup.txt", false);
        index.Wrote(u"D/new", u"new", true);
        index.Wrote(u"D/new/made.txt", u"new/made.txt", false);
        const DestinationIndex::Found found = index.Look(c.path);
        EXPECT_EQ(found.exists, c.exists) << c.what;
        EXPECT_EQ(found.directory, c.directory) << c.what;
        EXPECT_EQ(found.written, c.written) << c.what;
        EXPECT_EQ(found.writtenFor, c.writtenFor) << c.what;
    }
}

TEST(WcxhostDestinationIndex, ReadsEachFolderOnce) {
    Disk disk;
    disk.folders[u"D"] = {{u"a", false}};
    DestinationIndex index = disk.Index(true);
    for (int i = 0; i < 1000; ++i) index.Look(u"D/file" + std::u16string(1, char16_t(u'0' + i % 10)));
    index.Look(u"d/x");  // the same folder, as the file system sees it
    index.Look(u"D/sub/x");
    index.Look(u"D/sub/y");
    ASSERT_EQ(disk.listed.size(), 2u);
    EXPECT_EQ(disk.listed[0], u"D");
    EXPECT_EQ(disk.listed[1], u"D/sub");
}

}  // namespace
