// The formats sub-module behind the real plug-in, as a file manager drives it: damaged archives
// give result codes and never a partial file reported as extracted; on Windows the real password
// dialog asks for encrypted ZIPs.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "support/PluginUnderTest.h"
#if defined(_WIN32)
#include "support/WindowDriver.h"
#endif

using namespace testing_support;
#if defined(_WIN32)
using Answer = PasswordDialogDriver::Answer;
#endif

namespace {

fs::path Sample(const std::string& relative) { return fs::u8path(FORMATS_SAMPLES) / fs::u8path(relative); }

// A plug-in folder with the formats sub-module as its only module.
class FormatsPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path module = fs::u8path(FORMATS_MODULE);
        fs::copy_file(module, folder.folder.Path() / module.filename());
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nformats=" + module.filename().u8string() + "\n");
        plugin = std::make_unique<PluginUnderTest>(folder);
    }

    // Lists `archive` and extracts every file into `out`; answers the files extracted by name, with
    // "(result N)" for the ones that failed. Checks the result codes on the way.
    std::map<std::string, std::string> ExtractAll(const fs::path& archive, const fs::path& out, bool& opened) {
        std::map<std::string, std::string> files;
        PK_HANDLE handle = plugin->Open(U16(archive.u8string()), nullptr, PK_OM_EXTRACT);
        opened = handle != nullptr;
        if (!handle) return files;
        std::u16string destination = U16(out.u8string());
        for (int entries = 0; entries < 100000; ++entries) {
            int result = 0;
            const tHeaderDataExW header = plugin->NextHeader(handle, &result);
            EXPECT_TRUE(result == 0 || result == E_END_ARCHIVE || result == E_BAD_ARCHIVE)
                << archive.filename().u8string() << ": ReadHeaderExW answered " << result;
            if (result != 0) break;
            std::u16string name = FromW(header.FileName);
            const bool directory = PluginUnderTest::IsDirectory(header);
            const int processed = plugin->ProcessFileW(handle, directory ? PK_SKIP : PK_EXTRACT, W(destination), W(name));
            if (directory) continue;
            const fs::path target = out / fs::u8path(Utf8(name));
            const uint64_t size = uint64_t(header.UnpSizeHigh) << 32 | header.UnpSize;
            if (processed == 0) {
                // Extracted means complete: the size the header promised.
                EXPECT_TRUE(fs::exists(target) && fs::file_size(target) == size)
                    << archive.filename().u8string() << ": " << Utf8(name) << " is incomplete";
                files[Utf8(name)] = fs::exists(target) ? ReadFile(target) : "";
            } else {
                EXPECT_TRUE(processed == E_BAD_DATA || processed == E_EREAD || processed == E_EOPEN)
                    << archive.filename().u8string() << ": ProcessFileW answered " << processed;
                EXPECT_FALSE(fs::exists(target)) << archive.filename().u8string() << ": " << Utf8(name) << " was left behind";
                files[Utf8(name)] = "(result " + std::to_string(processed) + ")";
            }
        }
        EXPECT_EQ(plugin->CloseArchive(handle), 0);
        return files;
    }

    ModuleFolder folder;
    std::unique_ptr<PluginUnderTest> plugin;
};

}  // namespace

TEST_F(FormatsPluginTest, DamagedArchivesGiveResultCodesAndNoPartialFiles) {
    int archives = 0, opened = 0, refused = 0;
    for (const auto& item : fs::directory_iterator(Sample("damaged"))) {
#if defined(_WIN32)
        // Encrypted ones ask for their password, which a damaged archive may never take.
        PasswordDialogDriver driver({Answer{"secret"}, Answer{"secret"}});
#endif
        TempFolder out;
        bool open = false;
        const auto files = ExtractAll(item.path(), out.Path(), open);
        ++archives;
        opened += open;
        refused += open ? 0 : 1;
        if (::testing::Test::HasFailure()) break;
    }
    // Both kinds occur: damage the formats notice at once, and damage found while reading.
    std::printf("%d archives, %d opened, %d refused\n", archives, opened, refused);
    EXPECT_GT(archives, 150);
    EXPECT_GT(opened, 50);
    EXPECT_GT(refused, 10);
}

#if defined(_WIN32)

// The files of a folder, by their names relative to it.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) files[fs::relative(item.path(), folder).u8string()] = ReadFile(item.path());
    return files;
}

TEST_F(FormatsPluginTest, EncryptedZipsAskThroughTheRealDialog) {
    std::vector<std::string> archives = {"encrypted/traditional.zip"};
    if (fs::exists(Sample("encrypted/aes.zip"))) archives.push_back("encrypted/aes.zip");
    for (const std::string& archive : archives) {
        // A fresh plug-in each time: it remembers passwords that opened an archive.
        plugin.reset();
        plugin = std::make_unique<PluginUnderTest>(folder);
        const std::u16string path = U16(Sample(archive).u8string());
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
            const auto files = ExtractAll(Sample(archive), out.Path(), opened);
            EXPECT_TRUE(opened) << archive;
            EXPECT_EQ(driver.Shown(), 3) << archive << ": asked again after each wrong password";
            EXPECT_TRUE(files == Contents(Sample("tree"))) << archive << ": the files differ from their source";
        }
    }
}

#endif
