// A loaded packer plug-in, used through its wide exports or, with --ansi, through its ANSI
// ones; the rest of wcxhost sees one set of calls either way.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <string>

#include "plugin/PackerInterface.h"

namespace wcxhost {

struct Header {
    std::u16string name;
    uint64_t unpackedSize = 0;
    uint64_t packedSize = 0;
    int fileTime = 0;
    int attributes = 0;
    bool IsDirectory() const { return (attributes & 0x10) != 0; }
};

class Plugin {
public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Loads the library and binds the exports the chosen interface needs; false with a reason.
    bool Load(const std::u16string& path, bool ansi, bool needProbe, std::string& error);

    bool Ansi() const { return ansi_; }
    // The full path of the loaded library.
    std::u16string Path() const;
    // Called before each export call that may open the archive (and so ask for its password).
    void BeforeOpening(std::function<void()> hook) { beforeOpening_ = std::move(hook); }
    int Caps() const;
    bool CanProbe() const { return ansi_ ? canYouHandle_ != nullptr : canYouHandleW_ != nullptr; }
    // False also when the name cannot be given to the ANSI export.
    bool CanYouHandle(const std::u16string& archive) const;

    // Null on failure, with the plug-in's OpenResult in `openResult`, or -1 when the path cannot
    // be given to the ANSI export.
    PK_HANDLE Open(const std::u16string& archive, int mode, int& openResult) const;
    void SetProgress(PK_HANDLE archive, tProcessDataProcW wide, tProcessDataProc ansi) const;
    int ReadHeader(PK_HANDLE archive, Header& header) const;
    // destName null for skipping and testing. -1 when destName cannot be given to the ANSI export.
    int Process(PK_HANDLE archive, int operation, const std::u16string* destName) const;
    int Close(PK_HANDLE archive) const;

private:
    void* library_ = nullptr;
    bool ansi_ = false;
    std::function<void()> beforeOpening_;
    tGetPackerCapsFunction getPackerCaps_ = nullptr;
    tOpenArchiveWFunction openArchiveW_ = nullptr;
    tReadHeaderExWFunction readHeaderExW_ = nullptr;
    tProcessFileWFunction processFileW_ = nullptr;
    tSetProcessDataProcWFunction setProcessDataProcW_ = nullptr;
    tCanYouHandleThisFileWFunction canYouHandleW_ = nullptr;
    tOpenArchiveFunction openArchive_ = nullptr;
    tReadHeaderFunction readHeader_ = nullptr;
    tProcessFileFunction processFile_ = nullptr;
    tSetProcessDataProcFunction setProcessDataProc_ = nullptr;
    tCanYouHandleThisFileFunction canYouHandle_ = nullptr;
    tCloseArchiveFunction closeArchive_ = nullptr;
};

}  // namespace wcxhost
