// The long form of paths that Windows refuses in their plain form: directories from 248
// characters (CreateDirectoryW keeps room for a file name), files from 260, network paths as
// "\\?\UNC\...", and "." and ".." resolved first, since the long form takes them literally.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Platform.h"

namespace {

using platform::LongPathForm;
using platform::PathKind;

// prefix followed by "\seg..." segments of 20 characters until the text is exactly length long.
std::u16string Padded(const std::u16string& prefix, size_t length) {
    std::u16string path = prefix;
    while (path.size() < length) path += path.size() % 20 == 0 ? u'\\' : u'p';
    if (path.back() == u'\\') path.back() = u'q';
    return path;
}

TEST(LongPathForm, TurnsEachPathTheSystemWouldRefuse) {
    const std::u16string cwd = std::filesystem::current_path().u16string();
    const std::u16string deep = Padded(u"C:\\in", 300).substr(5);  // "\ppp...\ppp": 295 characters
    struct Case {
        std::u16string path;
        PathKind kind;
        std::u16string expected;
    };
    const Case cases[] = {
        {Padded(u"C:\\d", 247), PathKind::Directory, Padded(u"C:\\d", 247)},
        {Padded(u"C:\\d", 248), PathKind::Directory, u"\\\\?\\" + Padded(u"C:\\d", 248)},
        {Padded(u"C:\\d", 255), PathKind::Directory, u"\\\\?\\" + Padded(u"C:\\d", 255)},
        {Padded(u"C:\\f", 255), PathKind::File, Padded(u"C:\\f", 255)},
        {Padded(u"C:\\f", 259), PathKind::File, Padded(u"C:\\f", 259)},
        {Padded(u"C:\\f", 260), PathKind::File, u"\\\\?\\" + Padded(u"C:\\f", 260)},
        {u"C:/s/a" + deep, PathKind::File, u"\\\\?\\C:\\s\\a" + deep},  // separators as the system takes them
        {u"C:\\s\\.\\x\\..\\a" + deep, PathKind::File, u"\\\\?\\C:\\s\\a" + deep},
        {u"C:\\s\\a" + deep + u"\\..\\b", PathKind::Directory, u"\\\\?\\C:\\s\\a" + deep.substr(0, deep.rfind(u'\\')) + u"\\b"},
        {u"\\\\server\\share\\a" + deep, PathKind::File, u"\\\\?\\UNC\\server\\share\\a" + deep},
        {u"\\\\server\\share\\a\\b", PathKind::Directory, u"\\\\server\\share\\a\\b"},
        {u"\\\\?\\C:\\a\\.\\b" + deep, PathKind::File, u"\\\\?\\C:\\a\\.\\b" + deep},  // already long: as it is
        {u"rel" + deep, PathKind::File, u"\\\\?\\" + cwd + u"\\rel" + deep},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LongPathForm(c.path, c.kind), c.expected)
            << std::filesystem::path(c.path).u8string() << " (" << c.path.size() << " characters)";
    }
}

}  // namespace
