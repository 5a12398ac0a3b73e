// What the fuzz targets of the sub-modules share: the module linked into the target, loaded once
// with its default settings, a scratch folder for the archive and what is extracted from it, and
// a progress function that counts.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "modules/SubModuleContract.h"

extern "C" int32_t SM_CALL LoadSubModule(SubModuleInterface* Interface);

namespace fuzz_support {

constexpr uint32_t kDirectory = 0x10;

inline std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

inline int32_t SM_CALL CountProgress(void* context, int32_t amount, int32_t /*unused*/) {
    if (amount < 0) __builtin_trap();
    *static_cast<int64_t*>(context) += amount;
    return 1;
}

// A new folder in memory where there is a /dev/shm, else in the temporary folder.
inline std::string ScratchFolder(const std::string& target) {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string pattern = std::string(base) + "/morvane-fuzz-" + target + "-XXXXXX";
    if (!mkdtemp(&pattern[0])) std::abort();
    return pattern;
}

// The module, loaded once with its default settings.
inline SubModuleInterface& Module() {
    static SubModuleInterface module = [] {
        SubModuleInterface loaded{};
        static const std::u16string settings;
        loaded.SettingsText = reinterpret_cast<const SM_WCHAR*>(settings.c_str());
        if (LoadSubModule(&loaded) != 1) std::abort();
        return loaded;
    }();
    return module;
}

}  // namespace fuzz_support
