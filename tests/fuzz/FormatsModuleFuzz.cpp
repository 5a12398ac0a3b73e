// The formats sub-module through its contract on damaged archives: the first byte chooses whether
// a password is given, the rest is the archive, written to a scratch file as Morvane would find it.
// Every answer must be one the contract allows, every name must end within its record, and an
// extraction answered 0 leaves a complete file while any other answer leaves none.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SubModuleFuzzSupport.h"

namespace {

using namespace fuzz_support;
constexpr int kMostEntries = 256;

bool FileSize(const std::string& path, uint64_t& size) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return false;
    size = uint64_t(info.st_size);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const std::string scratchFolder = ScratchFolder("formats");
    SubModuleInterface& module = Module();
    const std::string archivePath = scratchFolder + "/archive";
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
        return 0;
    }
    if (!handle || module.PrepareProc(handle) == 0) __builtin_trap();

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
        uint64_t written = 0;
        const bool exists = FileSize(target, written);
        if (answer == SM_EXTRACT_OK) {
            if (!exists) __builtin_trap();
            // A size of 0 may mean that the format did not tell it.
            if (entry.UnpackedSize != 0 && written != entry.UnpackedSize) __builtin_trap();
        } else {
            if (answer < SM_EXTRACT_WRITE_ERROR || answer > 4) __builtin_trap();
            if (exists) __builtin_trap();  // no partial file stays behind
        }
    }
    module.CloseProc(handle);
    unlink(target.c_str());
    return 0;
}
