// The formats sub-module driven through its contract, as Morvane drives it, over archives that
// tests/formats/make_samples.sh made with real tools: claims, passwords, settings, threads.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include "modules/SubModuleContract.h"
#include "support/TestFiles.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#endif

using namespace testing_support;

namespace {

fs::path Sample(const std::string& relative) { return fs::u8path(FORMATS_SAMPLES) / fs::u8path(relative); }

std::u16string Wide(const fs::path& path) { return U16(path.u8string()); }

const SM_WCHAR* Contract(const std::u16string& text) { return reinterpret_cast<const SM_WCHAR*>(text.c_str()); }

// The module library, loaded afresh with a settings text ("k=v|k=v").
class Module {
public:
    explicit Module(const std::string& settings = "") {
#if defined(_WIN32)
        library_ = LoadLibraryW(fs::u8path(FORMATS_MODULE).wstring().c_str());
#else
        library_ = dlopen(FORMATS_MODULE, RTLD_NOW | RTLD_LOCAL);
#endif
        if (!library_) throw std::runtime_error("the module did not load");
        std::u16string text = U16(settings) + u'\0' + u'\0';
        for (char16_t& c : text)
            if (c == u'|') c = 0;
        SubModuleInterface iface{};
        iface.SettingsText = Contract(text);
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

    int32_t Open(const fs::path& archive, const char* password, ContainerHandle& handle) const {
        const std::u16string path = Wide(archive);
        OpenRequest request{Contract(path), password, 0, 0};
        return ops.OpenProc(request, &handle, const_cast<Module*>(this));
    }
    int32_t Extract(ContainerHandle handle, int32_t index, const fs::path& target, int64_t* progress = nullptr) const {
        const std::u16string path = Wide(target);
        ExtractRequest request{index, 0, Contract(path), progress, &Progress};
        return ops.ExtractProc(handle, request);
    }

    bool accepted = false;
    SubModuleInterface ops{};

private:
    static int32_t SM_CALL Progress(void* context, int32_t amount, int32_t) {
        if (context) *static_cast<int64_t*>(context) += amount;
        return 1;
    }
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

std::string NameOf(const EntryInfo& info) {
    std::u16string name;
    for (size_t i = 0; i < SM_NAME_LENGTH && info.Name[i]; ++i) name += char16_t(info.Name[i]);
    return Utf8(name);
}

// Lists an archive and extracts every file into `folder`, as Morvane does (header, extract,
// header again): one line per entry, with the extracted file's bytes.
std::string Walk(const Module& module, const fs::path& archive, const fs::path& folder, const char* password = nullptr) {
    ContainerHandle handle = nullptr;
    const int32_t opened = module.Open(archive, password, handle);
    if (opened != SM_OPEN_OK) return "open answered " + std::to_string(opened);
    std::string transcript;
    for (int32_t index = 0;; ++index) {
        EntryInfo info{};
        const int32_t read = module.ops.ReadEntryProc(handle, index, &info);
        if (read != SM_ENTRY_OK) {
            transcript += "end " + std::to_string(read) + "\n";
            break;
        }
        transcript += NameOf(info) + "|" + std::to_string(info.UnpackedSize) + "|" + std::to_string(info.Attributes) +
                      "|" + std::to_string(info.LastWriteTime.LowDateTime) + "\n";
        if (info.Attributes & 0x10) continue;
        const fs::path target = folder / std::to_string(index);
        const int32_t extracted = module.Extract(handle, index, target);
        transcript += "extract " + std::to_string(extracted) + " " +
                      (extracted == SM_EXTRACT_OK ? std::to_string(std::hash<std::string>()(ReadFile(target))) : "") + "\n";
        EntryInfo again{};
        EXPECT_EQ(module.ops.ReadEntryProc(handle, index, &again), SM_ENTRY_OK);
        EXPECT_EQ(NameOf(again), NameOf(info));
        EXPECT_EQ(again.LastWriteTime.LowDateTime, info.LastWriteTime.LowDateTime);
    }
    module.ops.CloseProc(handle);
    return transcript;
}

// Every file of the archive, extracted, by name.
std::map<std::string, std::string> Contents(const Module& module, const fs::path& archive, const char* password) {
    std::map<std::string, std::string> files;
    ContainerHandle handle = nullptr;
    if (module.Open(archive, password, handle) != SM_OPEN_OK) return files;
    TempFolder out;
    for (int32_t index = 0;; ++index) {
        EntryInfo info{};
        if (module.ops.ReadEntryProc(handle, index, &info) != SM_ENTRY_OK) break;
        if (info.Attributes & 0x10) continue;
        const fs::path target = out.Path() / "file";
        files[NameOf(info)] = module.Extract(handle, index, target) == SM_EXTRACT_OK ? ReadFile(target) : "(failed)";
    }
    module.ops.CloseProc(handle);
    return files;
}

// The files of a folder, by their names relative to it.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) files[fs::relative(item.path(), folder).u8string()] = ReadFile(item.path());
    return files;
}

}  // namespace

TEST(FormatsContract, ClaimsByContentOnly) {
    const Module module;
    ASSERT_TRUE(module.accepted);
    struct Case {
        std::string file;
        int32_t answer;
    };
    std::vector<Case> cases = {
        {"foreign/picture.png", SM_OPEN_NOT_MINE},   {"foreign/text.txt", SM_OPEN_NOT_MINE},
        {"foreign/empty.bin", SM_OPEN_NOT_MINE},     {"foreign/cut-header.tar", SM_OPEN_NOT_MINE},
        {"foreign/cut-header.zip", SM_OPEN_NOT_MINE}, {"foreign/cut-header.7z", SM_OPEN_NOT_MINE},
        {"foreign/no-such-file", SM_OPEN_NOT_MINE},  {"foreign", SM_OPEN_NOT_MINE},
        {"foreign/zeros.img", SM_OPEN_NOT_MINE},     {"foreign/ext4.img", SM_OPEN_NOT_MINE},
        {"encrypted/traditional.zip", SM_OPEN_NEED_PASSWORD},
        {"special/cp866.zip", SM_OPEN_OK},           {"special/empty.tar", SM_OPEN_OK},
    };
    for (const auto& item : fs::directory_iterator(Sample("archives")))
        cases.push_back({"archives/" + item.path().filename().u8string(), SM_OPEN_OK});
    for (const Case& c : cases) {
        ContainerHandle handle = nullptr;
        EXPECT_EQ(module.Open(Sample(c.file), nullptr, handle), c.answer) << c.file;
        if (c.answer == SM_OPEN_OK) {
            EXPECT_NE(handle, nullptr) << c.file;
            module.ops.CloseProc(handle);
        }
    }
}

TEST(FormatsContract, PasswordsAreHeldAgainstTheFirstEncryptedEntry) {
    const Module module;
    std::vector<std::string> archives = {"encrypted/traditional.zip"};
    if (fs::exists(Sample("encrypted/aes.zip"))) archives.push_back("encrypted/aes.zip");
    struct Case {
        const char* password;
        int32_t answer;
    };
    const std::vector<Case> cases = {
        {nullptr, SM_OPEN_NEED_PASSWORD}, {"", SM_OPEN_NEED_PASSWORD},      {"wrong", SM_OPEN_NEED_PASSWORD},
        {"secre", SM_OPEN_NEED_PASSWORD}, {"secret ", SM_OPEN_NEED_PASSWORD}, {"secret", SM_OPEN_OK},
    };
    for (const std::string& archive : archives) {
        for (const Case& c : cases) {
            ContainerHandle handle = nullptr;
            EXPECT_EQ(module.Open(Sample(archive), c.password, handle), c.answer)
                << archive << " with " << (c.password ? c.password : "(null)");
            if (handle) module.ops.CloseProc(handle);
        }
        // With the right one, every file comes out as it went in.
        EXPECT_TRUE(Contents(module, Sample(archive), "secret") == Contents(Sample("tree"))) << archive;
    }
}

TEST(FormatsContract, AnEntryWhoseHeaderCannotBeReadIsListedAndTheOnesAfterItExtracted) {
    if (!fs::exists(Sample("encrypted/aes-link.zip"))) GTEST_SKIP() << "7z is not installed";
    const Module module;
    TempFolder out;
    const std::string transcript = Walk(module, Sample("encrypted/aes-link.zip"), out.Path(), "secret");
    const std::vector<std::string> expected = {"a.txt|4|", "extract 0 ", "link|", "extract 3 \n", "z.txt|4|", "extract 0 ",
                                               "end 2"};
    size_t at = 0;
    for (const std::string& part : expected) {
        at = transcript.find(part, at);
        ASSERT_NE(at, std::string::npos) << part << " in\n" << transcript;
    }
    EXPECT_EQ(ReadFile(out.Path() / "2"), "two\n");
    EXPECT_FALSE(fs::exists(out.Path() / "1"));
}

TEST(FormatsContract, AnEntryWithBadDataFailsAndTheNextOneStillExtracts) {
    const Module module;
    TempFolder out;
    const std::string transcript = Walk(module, Sample("special/bad-crc.zip"), out.Path());
    EXPECT_NE(transcript.find("a.txt|11|32|"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("extract 3 \nb.txt|12|32|"), std::string::npos) << transcript;
    EXPECT_FALSE(fs::exists(out.Path() / "0"));
    EXPECT_EQ(ReadFile(out.Path() / "1"), "second file\n");
}

TEST(FormatsContract, AVolumeSetOpensFromItsFirstVolume) {
    const Module module;
    // Each naming scheme of the same three RAR 4 volumes gives the same file.
    const auto rar4 = Contents(module, Sample("volumes/rar4.part1.rar"), nullptr);
    ASSERT_EQ(rar4.size(), 1u);
    EXPECT_EQ(rar4.begin()->second.size(), 20111u);
    for (const char* first : {"volumes/rar4.part01.rar", "volumes/rar4.part0001.rar", "volumes/rar4.rar"})
        EXPECT_TRUE(Contents(module, Sample(first), nullptr) == rar4) << first;
    size_t bytes = 0;
    for (const auto& file : Contents(module, Sample("volumes/rar5.part01.rar"), nullptr)) bytes += file.second.size();
    EXPECT_EQ(bytes, 117398u) << "the nine files of the RAR 5 set";
    // Without the second volume, or opened at the second: the file is not there whole.
    const std::map<std::string, std::string> failed = {{rar4.begin()->first, "(failed)"}};
    for (const char* part : {"volumes/gap.part1.rar", "volumes/rar4.part2.rar"})
        EXPECT_TRUE(Contents(module, Sample(part), nullptr) == failed) << part;
}

TEST(FormatsContract, AHardLinkWhoseTargetIsMissingFails) {
    const Module module;
    const std::map<std::string, std::string> expected = {{"symlink", "target.txt"}, {"hardlink.txt", "(failed)"}};
    EXPECT_TRUE(Contents(module, Sample("special/dangling-link.tar"), nullptr) == expected);
}

TEST(FormatsContract, IndexesOutsideTheArchive) {
    const Module module;
    ContainerHandle handle = nullptr;
    ASSERT_EQ(module.Open(Sample("archives/tar.tar"), nullptr, handle), SM_OPEN_OK);
    EntryInfo info{};
    EXPECT_EQ(module.ops.ReadEntryProc(handle, -1, &info), SM_ENTRY_ERROR);
    EXPECT_EQ(module.ops.ReadEntryProc(handle, 15, &info), SM_ENTRY_END);
    TempFolder out;
    EXPECT_EQ(module.Extract(handle, -1, out.Path() / "x"), 4);
    EXPECT_EQ(module.Extract(handle, 15, out.Path() / "x"), 4);
    EXPECT_FALSE(fs::exists(out.Path() / "x"));
    module.ops.CloseProc(handle);
}

#if !defined(_WIN32)
TEST(FormatsContract, AFullDiskFailsTheExtractionAndLeavesNoFile) {
    const Module module;
    ContainerHandle handle = nullptr;
    ASSERT_EQ(module.Open(Sample("archives/tar.tar"), nullptr, handle), SM_OPEN_OK);
    TempFolder out;
    int32_t bigFile = -1;
    for (int32_t index = 0; bigFile < 0; ++index) {
        EntryInfo info{};
        ASSERT_EQ(module.ops.ReadEntryProc(handle, index, &info), SM_ENTRY_OK);
        if (NameOf(info) == "docs/random.bin") bigFile = index;
    }
    // Files may grow to 100,000 bytes only: writing random.bin's 300,000 fails as on a full disk.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    setrlimit(RLIMIT_FSIZE, &small);
    const int32_t answer = module.Extract(handle, bigFile, out.Path() / "random.bin");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(answer, SM_EXTRACT_WRITE_ERROR);
    EXPECT_FALSE(fs::exists(out.Path() / "random.bin"));
    module.ops.CloseProc(handle);
}
#endif

TEST(FormatsContract, EncryptionLibarchiveCannotReadIsListedButNotExtracted) {
    const Module module;
    if (!fs::exists(Sample("encrypted/data.7z"))) GTEST_SKIP() << "7z is not installed";
    ContainerHandle handle = nullptr;
    ASSERT_EQ(module.Open(Sample("encrypted/data.7z"), nullptr, handle), SM_OPEN_OK);
    TempFolder out;
    int files = 0;
    for (int32_t index = 0;; ++index) {
        EntryInfo info{};
        if (module.ops.ReadEntryProc(handle, index, &info) != SM_ENTRY_OK) break;
        const fs::path target = out.Path() / std::to_string(index);
        if (info.Attributes & 0x10) continue;
        ++files;
        EXPECT_EQ(module.Extract(handle, index, target), info.UnpackedSize ? SM_EXTRACT_BAD_DATA : SM_EXTRACT_OK)
            << NameOf(info);
        EXPECT_EQ(fs::exists(target), info.UnpackedSize == 0) << NameOf(info) << ": no partial file is left";
    }
    EXPECT_EQ(files, 8);
    module.ops.CloseProc(handle);
    // With encrypted headers there is nothing to list: not claimed.
    EXPECT_EQ(module.Open(Sample("encrypted/headers.7z"), "secret", handle), SM_OPEN_NOT_MINE);
}

TEST(FormatsContract, SettingsNarrowTheFormatsChooseTheCodePageOrRefuseTheModule) {
    {
        const Module zipOnly("Formats=zip");
        ASSERT_TRUE(zipOnly.accepted);
        ContainerHandle handle = nullptr;
        EXPECT_EQ(zipOnly.Open(Sample("archives/tar.tar"), nullptr, handle), SM_OPEN_NOT_MINE);
        EXPECT_EQ(zipOnly.Open(Sample("archives/7zip.7z"), nullptr, handle), SM_OPEN_NOT_MINE);
        ASSERT_EQ(zipOnly.Open(Sample("archives/zip.zip"), nullptr, handle), SM_OPEN_OK);
        zipOnly.ops.CloseProc(handle);
    }
    {
        const Module noGzip("Filters=xz");
        ContainerHandle handle = nullptr;
        EXPECT_EQ(noGzip.Open(Sample("archives/tar-gzip.tar.gz"), nullptr, handle), SM_OPEN_NOT_MINE);
        ASSERT_EQ(noGzip.Open(Sample("archives/tar-xz.tar.xz"), nullptr, handle), SM_OPEN_OK);
        noGzip.ops.CloseProc(handle);
    }
    for (const char* settings : {"CodePage=866", "Charset=cp866"}) {
        const Module russian(settings);
        TempFolder out;
        const std::string transcript = Walk(russian, Sample("special/cp866.zip"), out.Path());
        EXPECT_NE(transcript.find("\xD0\x95\xD0\xB6|0|16|"), std::string::npos) << settings << ": " << transcript;
        EXPECT_NE(transcript.find("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt|7|32|"), std::string::npos)
            << settings << ": " << transcript;
    }
    for (const char* refused : {"Formats=raw", "Options=nosuch:thing=1", "Options=iso9660:nosuchoption", "CodePage=1"})
        EXPECT_FALSE(Module(refused).accepted) << refused;
}

TEST(FormatsContract, ExtractionReportsProgressUpToTheSize) {
    const Module module;
    for (const std::string archive : {"archives/zip.zip", "archives/xar.xar", "special/sparse.tar"}) {
        ContainerHandle handle = nullptr;
        ASSERT_EQ(module.Open(Sample(archive), nullptr, handle), SM_OPEN_OK);
        TempFolder out;
        for (int32_t index = 0;; ++index) {
            EntryInfo info{};
            if (module.ops.ReadEntryProc(handle, index, &info) != SM_ENTRY_OK) break;
            if (info.Attributes & 0x10) continue;
            int64_t progress = 0;
            const fs::path target = out.Path() / "file";
            ASSERT_EQ(module.Extract(handle, index, target, &progress), SM_EXTRACT_OK) << NameOf(info);
            EXPECT_EQ(uint64_t(progress), info.UnpackedSize) << NameOf(info);
            EXPECT_EQ(fs::file_size(target), info.UnpackedSize) << NameOf(info);
        }
        module.ops.CloseProc(handle);
    }
}

TEST(FormatsContract, TwoThreadsProduceWhatOneThreadDoes) {
    const Module module;
    const std::vector<std::string> archives = {"archives/zip.zip", "archives/tar-xz.tar.xz", "archives/7zip.7z",
                                               "archives/iso9660.iso", "archives/xar.xar", "encrypted/traditional.zip"};
    auto walk = [&](const std::string& archive) {
        TempFolder out;
        return Walk(module, Sample(archive), out.Path(), "secret");
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
