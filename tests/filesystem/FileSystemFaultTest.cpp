// Extraction through the plug-in and the real tar sub-module when the file system says no: a
// target folder that cannot be written, a disk that is full (a target that is /dev/full, and on
// Linux a file-size limit that stops the data half-way), an existing file that is read-only.
// Each gives the right result code, and a failed extraction never leaves a partial file.
//
// run_filesystem_faults.sh makes the archive with GNU tar and names it in MORVANE_FAULT_ARCHIVE,
// and a folder holding "full.bin", a link to /dev/full, in MORVANE_FAULT_FULL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/PluginUnderTest.h"

#ifndef TAR_MODULE_FILE
#error "the build names the tar sub-module"
#endif

using namespace testing_support;

namespace {

// What the script put in the archive.
constexpr size_t kBigSize = 3u << 20;  // three of the tar module's 1 MiB chunks
const std::string kSmallContent = "small but whole\n";

// A path from the script, as this platform spells it.
fs::path FromScript(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return fs::path();
#if defined(_WIN32)
    std::string path = std::string("Z:") + value;
    for (char& c : path)
        if (c == '/') c = '\\';
    return fs::u8path(path);
#else
    return fs::u8path(value);
#endif
}

class FileSystemFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        archive = FromScript("MORVANE_FAULT_ARCHIVE");
        ASSERT_FALSE(archive.empty()) << "run through run_filesystem_faults.sh";
        const fs::path module = fs::u8path(TAR_MODULE_FILE);
        fs::copy_file(module, folder.folder.Path() / module.filename());
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\ntar=" + module.filename().u8string() + "\n");
        plugin = std::make_unique<PluginUnderTest>(folder);
    }

    // Lists the archive up to member, then extracts it to destPath + "\" + destName; the result code.
    int Extract(const std::string& member, const fs::path& destPath, const std::string& destName) {
        PK_HANDLE handle = plugin->Open(archive.u16string());
        if (!handle) return -1;
        int result = -1;
        for (;;) {
            int end = 0;
            const tHeaderDataExW header = plugin->NextHeader(handle, &end);
            if (end != 0) break;
            if (Utf8(FromW(header.FileName)) != member) continue;
            std::u16string path = destPath.u16string(), name = U16(destName);
            result = plugin->ProcessFileW(handle, PK_EXTRACT, W(path), W(name));
            break;
        }
        plugin->CloseArchive(handle);
        return result;
    }

    ModuleFolder folder;
    std::unique_ptr<PluginUnderTest> plugin;
    fs::path archive;
    TempFolder target;
};

// Nothing at the target after a failure, and no file of another size than the member's.
void ExpectNoPartialFile(const fs::path& file) {
    std::error_code error;
    const bool regular = fs::is_regular_file(fs::symlink_status(file, error));
    EXPECT_FALSE(regular && fs::file_size(file, error) != kBigSize) << file << " holds a partial file";
}

TEST_F(FileSystemFaultTest, FolderThatCannotBeWritten) {
    // A folder of the process file system: it exists, and nobody, root included, creates files in it.
#if defined(_WIN32)
    const fs::path folderPath = fs::u8path("Z:\\proc\\self\\fdinfo");
#else
    const fs::path folderPath = fs::u8path("/proc/self/fdinfo");
#endif
    EXPECT_EQ(Extract("small.txt", folderPath, "small.txt"), E_EWRITE);
    EXPECT_EQ(Extract("small.txt", folderPath, "new\\small.txt"), E_EWRITE);
    EXPECT_FALSE(fs::exists(folderPath / "small.txt"));
}

TEST_F(FileSystemFaultTest, DiskFull) {
    const fs::path full = FromScript("MORVANE_FAULT_FULL");
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(Extract("big.bin", full, "full.bin"), E_EWRITE);
    ExpectNoPartialFile(full / "full.bin");
}

#if !defined(_WIN32)
// The data stops half-way: the first chunk is cut short, the next write is refused.
TEST_F(FileSystemFaultTest, FileSizeLimitStopsTheDataHalfWay) {
    signal(SIGXFSZ, SIG_IGN);  // a refused write then fails with EFBIG instead of ending the process
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = Extract("big.bin", target.Path(), "big.bin");
    setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_EQ(result, E_EWRITE);
    ExpectNoPartialFile(target.Path() / "big.bin");
    EXPECT_FALSE(fs::exists(target.Path() / "big.bin"));
}
#endif

// Whether this process may write the file (an administrator, or root under Wine and Linux, may).
bool Writable(const fs::path& file) {
#if defined(_WIN32)
    HANDLE handle = CreateFileW(file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
#else
    return access(file.c_str(), W_OK) == 0;
#endif
}

TEST_F(FileSystemFaultTest, ReadOnlyFileThatExists) {
    const fs::path file = target.Path() / "small.txt";
    WriteFile(file, "the user's own file\n");
#if defined(_WIN32)
    ASSERT_TRUE(SetFileAttributesW(file.wstring().c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
#endif
    // The platform decides whether read-only stops this user; either way the file stays whole.
    const bool writable = Writable(file);
    const int result = Extract("small.txt", target.Path(), "small.txt");
    if (writable) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadFile(file), kSmallContent);
    } else {
        EXPECT_EQ(result, E_EWRITE);
        EXPECT_EQ(ReadFile(file), "the user's own file\n");
    }
#if defined(_WIN32)
    SetFileAttributesW(file.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

}  // namespace
