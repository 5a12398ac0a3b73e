// CreateDirectoryChain: the missing folders of an extraction target, and what it answers.
#include <gtest/gtest.h>

#include "archive/DirectoryChain.h"
#include "support/TestFiles.h"

using namespace testing_support;

TEST(DirectoryChain, CreatesTheMissingLevelsAndAnswersWhetherTheFolderExists) {
    TempFolder folder;
    const fs::path root = folder.Path();
    fs::create_directories(root / "exists");
    WriteFile(root / "file", "a plain file");
#if !defined(_WIN32)
    fs::create_directory_symlink(root / "exists", root / "link");
#endif
    struct Case {
        const char* what;
        fs::path path;
        bool answer;
        std::vector<fs::path> createdFolders, absent;
    };
    const std::vector<Case> cases = {
        {"an existing folder", root / "exists", true, {}, {}},
        {"three missing levels", root / "new" / "deeper" / "deepest", true,
         {root / "new", root / "new" / "deeper", root / "new" / "deeper" / "deepest"}, {}},
        {"one missing level below an existing one", root / "exists" / "sub", true, {root / "exists" / "sub"}, {}},
        {"the path is a plain file", root / "file", false, {}, {}},
        {"a plain file on the way", root / "file" / "sub" / "deeper", false, {}, {root / "file" / "sub"}},
        {"a level the file system cannot create", root / "made" / std::string(300, 'n') / "below", false,
         {root / "made"}, {}},
#if !defined(_WIN32)
        {"a link to a folder counts as a folder", root / "link" / "inside", true, {root / "exists" / "inside"}, {}},
#endif
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CreateDirectoryChain(c.path.u16string()), c.answer) << c.what;
        for (const fs::path& created : c.createdFolders) EXPECT_TRUE(fs::is_directory(created)) << c.what;
        for (const fs::path& absent : c.absent) EXPECT_FALSE(fs::exists(absent)) << c.what;
    }
    EXPECT_TRUE(fs::is_regular_file(root / "file"));
}
