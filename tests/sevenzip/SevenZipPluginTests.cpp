// The sevenzip sub-module behind the real plug-in, as a file manager drives it: a disk image lists
// the file system inside it; on Windows an encrypted 7z with encrypted headers, and the archives
// with encrypted data, ask through the real password dialog, again after a wrong password, and a
// cancel fails the open cleanly.
#include <gtest/gtest.h>

#include <map>

#include "support/PluginUnderTest.h"
#if defined(_WIN32)
#include "support/WindowDriver.h"
#endif

using namespace testing_support;

namespace {

fs::path Sample(const std::string& relative) { return fs::u8path(SEVENZIP_SAMPLES) / fs::u8path(relative); }

// A plug-in folder with the sevenzip sub-module and 7-Zip's library beside it as its only module.
class SevenZipPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path module = fs::u8path(SEVENZIP_MODULE);
        fs::copy_file(module, folder.folder.Path() / module.filename());
        fs::copy_file(module.parent_path() / SEVENZIP_LIBRARY_NAME, folder.folder.Path() / SEVENZIP_LIBRARY_NAME);
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nsevenzip=" + module.filename().u8string() + "\n");
        plugin = std::make_unique<PluginUnderTest>(folder);
    }

    // Lists `archive` and extracts every file into `out`: the files by name, "(result N)" for a
    // failure. `opened` tells whether the open succeeded.
    std::map<std::string, std::string> ExtractAll(const fs::path& archive, const fs::path& out, bool& opened) {
        std::map<std::string, std::string> files;
        PK_HANDLE handle = plugin->Open(U16(archive.u8string()), nullptr, PK_OM_EXTRACT);
        opened = handle != nullptr;
        if (!handle) return files;
        std::u16string destination = U16(out.u8string());
        for (;;) {
            int result = 0;
            const tHeaderDataExW header = plugin->NextHeader(handle, &result);
            if (result != 0) {
                EXPECT_EQ(result, E_END_ARCHIVE) << archive.filename().u8string();
                break;
            }
            std::u16string name = FromW(header.FileName);
            const bool directory = PluginUnderTest::IsDirectory(header);
            const int processed = plugin->ProcessFileW(handle, directory ? PK_SKIP : PK_EXTRACT, W(destination), W(name));
            if (directory) continue;
            std::string key = Utf8(name);
            for (char& c : key)
                if (c == '\\') c = '/';
            files[key] = processed == 0 ? ReadFile(out / fs::u8path(Utf8(name))) : "(result " + std::to_string(processed) + ")";
        }
        EXPECT_EQ(plugin->CloseArchive(handle), 0);
        return files;
    }

    ModuleFolder folder;
    std::unique_ptr<PluginUnderTest> plugin;
};

// The files of a folder, by their names relative to it.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) files[fs::relative(item.path(), folder).generic_u8string()] = ReadFile(item.path());
    return files;
}

}  // namespace

TEST_F(SevenZipPluginTest, ADiskImageShowsItsFileSystemAndASplitArchiveTheArchiveItHolds) {
    for (const char* archive : {"disk.vhdx", "split.7z.001"}) {
        EXPECT_EQ(plugin->Probe(U16(Sample(std::string("archives/") + archive).u8string())), 1) << archive;
        TempFolder out;
        bool opened = false;
        auto files = ExtractAll(Sample(std::string("archives/") + archive), out.Path(), opened);
        ASSERT_TRUE(opened) << archive;
        // A file system keeps a folder and a journal of its own.
        files.erase("[SYS]/Journal");
        EXPECT_TRUE(files == Contents(Sample("tree"))) << archive;
    }
}

#if defined(_WIN32)

using Answer = PasswordDialogDriver::Answer;

TEST_F(SevenZipPluginTest, EncryptedArchivesAskThroughTheRealDialog) {
    for (const std::string archive : {"headers.7z", "data.7z", "aes.zip", "zipcrypto.zip"}) {
        // A fresh plug-in each time: it remembers passwords that opened an archive.
        plugin.reset();
        plugin = std::make_unique<PluginUnderTest>(folder);
        const std::u16string path = U16(Sample("archives/" + archive).u8string());
        {
            PasswordDialogDriver driver({Answer{"", true}});
            int result = 0;
            EXPECT_EQ(plugin->Open(path, &result), nullptr) << archive << ": cancelled";
            EXPECT_EQ(result, E_NOT_SUPPORTED) << archive;
            EXPECT_EQ(driver.Shown(), 1) << archive;
            EXPECT_TRUE(driver.ControlsAsExpected());
        }
        {
            PasswordDialogDriver driver({Answer{"wrong"}, Answer{"Secret"}, Answer{"secret"}});
            TempFolder out;
            bool opened = false;
            const auto files = ExtractAll(Sample("archives/" + archive), out.Path(), opened);
            EXPECT_TRUE(opened) << archive;
            EXPECT_EQ(driver.Shown(), 3) << archive << ": asked again after each wrong password";
            EXPECT_TRUE(files == Contents(Sample("tree"))) << archive << ": the files differ from their source";
        }
    }
}

#else

TEST_F(SevenZipPluginTest, EncryptedHeadersWithoutAHostDialogFailTheOpen) {
    int result = 0;
    EXPECT_EQ(plugin->Open(U16(Sample("archives/headers.7z").u8string()), &result), nullptr);
    EXPECT_EQ(result, E_NOT_SUPPORTED);
}

#endif
