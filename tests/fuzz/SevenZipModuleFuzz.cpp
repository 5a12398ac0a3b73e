// The sevenzip sub-module through its contract on damaged archives, read by 7-Zip's library beside
// the target: the first byte chooses whether a password is given, the rest is the archive,
// written to a scratch file as Morvane would find it. Every answer must be one the contract
// allows, every name must end within its record, and an extraction answered 0 leaves a file while
// any other answer leaves none.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SubModuleFuzzSupport.h"

namespace {

using namespace fuzz_support;
constexpr int kMostEntries = 64;

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::string scratchFolder = ScratchFolder("sevenzip");
    SubModuleInterface& module = Module();
    // The name's extension lets the formats without a signature be tried too (split volumes).
    const std::string archivePath = scratchFolder + ((data[0] & 2) ? "/archive.001" : "/archive");
    FILE* file = std::fopen(archivePath.c_str(), "wb");
    if (!file) std::abort();
    if (size > 1) std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);

    const std::u16string archive = Wide(archivePath);
    OpenRequest request{};
    request.ArchivePath = reinterpret_cast<const SM_WCHAR*>(archive.c_str());
    request.Password = (data[0] & 1) ? "secret" : nullptr;
    ContainerHandle handle = nullptr;
    const int32_t opened = module.OpenProc(request, &handle, nullptr);
    if (opened != SM_OPEN_OK) {
        if (opened != SM_OPEN_NOT_MINE && opened != SM_OPEN_NEED_PASSWORD) __builtin_trap();
        if (handle) __builtin_trap();  // a refusal hands out no container
        unlink(archivePath.c_str());
        return 0;
    }
    if (!handle) __builtin_trap();
    // A container whose preparation fails is released by the module itself.
    if (module.PrepareProc(handle) == 0) {
        unlink(archivePath.c_str());
        return 0;
    }
    {
        const std::string target = scratchFolder + "/extracted";
        const std::u16string wideTarget = Wide(target);
        for (int32_t index = 0; index < kMostEntries; ++index) {
            EntryInfo entry;
            const int32_t read = module.ReadEntryProc(handle, index, &entry);
            if (read == SM_ENTRY_END || read == SM_ENTRY_ERROR) break;
            if (read != SM_ENTRY_OK) __builtin_trap();
            bool terminated = false;
            for (SM_WCHAR c : entry.Name) terminated = terminated || c == 0;
            if (!terminated) __builtin_trap();
            if (entry.Attributes & kDirectory) continue;
            unlink(target.c_str());
            int64_t reported = 0;
            ExtractRequest extraction{};
            extraction.EntryIndex = index;
            extraction.TargetPath = reinterpret_cast<const SM_WCHAR*>(wideTarget.c_str());
            extraction.ProgressContext = &reported;
            extraction.ProgressProc = CountProgress;
            const int32_t answer = module.ExtractProc(handle, extraction);
            if (answer == SM_EXTRACT_OK && !Exists(target)) __builtin_trap();
            if (answer != SM_EXTRACT_OK && (answer < SM_EXTRACT_WRITE_ERROR || answer > 4 || Exists(target))) __builtin_trap();
        }
        unlink(target.c_str());
    }
    module.CloseProc(handle);
    unlink(archivePath.c_str());
    return 0;
}
