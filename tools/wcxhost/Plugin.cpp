#include "Plugin.h"

#include <cstring>
#include <vector>

#include "HostPlatform.h"
#if !defined(_WIN32)
#include "UnixHost.h"
#endif

namespace wcxhost {

namespace {

// What the header's time and attributes mean depends on the host family the plug-in serves.
#if defined(_WIN32)
int ShownTime(int fileTime) { return fileTime; }
int ShownAttributes(int fileAttr) { return fileAttr; }
#else
int ShownTime(int fileTime) { return DosTimeFromUnixTime(fileTime); }
int ShownAttributes(int fileAttr) { return AttributesFromUnixMode(fileAttr); }
#endif

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(platform::FindExport(library, name));
    return function != nullptr;
}

// A zero-terminated copy that the plug-in may read as PK_WCHAR.
std::vector<PK_WCHAR> WideArgument(const std::u16string& text) {
    std::vector<PK_WCHAR> buffer(text.begin(), text.end());
    buffer.push_back(0);
    return buffer;
}

std::u16string WideField(const PK_WCHAR* field, size_t capacity) {
    size_t length = 0;
    while (length < capacity && field[length] != 0) ++length;
    return std::u16string(field, field + length);
}

}  // namespace

Plugin::~Plugin() {
    if (library_) platform::FreePluginLibrary(library_);
}

bool Plugin::Load(const std::u16string& path, bool ansi, bool needProbe, std::string& error) {
    std::string reason;
    library_ = platform::LoadPluginLibrary(path, reason);
    if (!library_) {
        error = "cannot load the plug-in: " + reason;
        return false;
    }
    ansi_ = ansi;
#if !defined(_WIN32)
    LendDialogs(library_);
#endif
    Bind(library_, "GetPackerCaps", getPackerCaps_);
    bool bound = true;
    std::string missing;
    auto require = [&](bool found, const char* name) {
        if (!found) {
            bound = false;
            missing += missing.empty() ? name : std::string(", ") + name;
        }
    };
    if (ansi) {
        Bind(library_, "SetProcessDataProc", setProcessDataProc_);
        const bool probe = Bind(library_, "CanYouHandleThisFile", canYouHandle_);
        if (needProbe) require(probe, "CanYouHandleThisFile");
        else {
            require(Bind(library_, "OpenArchive", openArchive_), "OpenArchive");
            require(Bind(library_, "ReadHeader", readHeader_), "ReadHeader");
            require(Bind(library_, "ProcessFile", processFile_), "ProcessFile");
            require(Bind(library_, "CloseArchive", closeArchive_), "CloseArchive");
        }
    } else {
        Bind(library_, "SetProcessDataProcW", setProcessDataProcW_);
        const bool probe = Bind(library_, "CanYouHandleThisFileW", canYouHandleW_);
        if (needProbe) require(probe, "CanYouHandleThisFileW");
        else {
            require(Bind(library_, "OpenArchiveW", openArchiveW_), "OpenArchiveW");
            require(Bind(library_, "ReadHeaderExW", readHeaderExW_), "ReadHeaderExW");
            require(Bind(library_, "ProcessFileW", processFileW_), "ProcessFileW");
            require(Bind(library_, "CloseArchive", closeArchive_), "CloseArchive");
        }
    }
    if (!bound) error = "the plug-in does not export " + missing;
    return bound;
}

std::u16string Plugin::Path() const { return library_ ? platform::LibraryPath(library_) : std::u16string(); }

int Plugin::Caps() const { return getPackerCaps_ ? getPackerCaps_() : 0; }

bool Plugin::CanYouHandle(const std::u16string& archive) const {
    if (beforeOpening_) beforeOpening_();
    if (ansi_) {
        std::string name;
        if (!canYouHandle_ || !platform::ToAnsi(archive, name)) return false;
        return canYouHandle_(&name[0]) != 0;
    }
    if (!canYouHandleW_) return false;
    std::vector<PK_WCHAR> name = WideArgument(archive);
    return canYouHandleW_(name.data()) != 0;
}

PK_HANDLE Plugin::Open(const std::u16string& archive, int mode, int& openResult) const {
    openResult = 0;
    if (beforeOpening_) beforeOpening_();
    if (ansi_) {
        std::string name;
        if (!platform::ToAnsi(archive, name)) {
            openResult = -1;
            return nullptr;
        }
        tOpenArchiveData data;
        std::memset(&data, 0, sizeof data);
        data.ArcName = &name[0];
        data.OpenMode = mode;
        PK_HANDLE handle = openArchive_(&data);
        openResult = data.OpenResult;
        return handle;
    }
    std::vector<PK_WCHAR> name = WideArgument(archive);
    tOpenArchiveDataW data;
    std::memset(&data, 0, sizeof data);
    data.ArcName = name.data();
    data.OpenMode = mode;
    PK_HANDLE handle = openArchiveW_(&data);
    openResult = data.OpenResult;
    return handle;
}

void Plugin::SetProgress(PK_HANDLE archive, tProcessDataProcW wide, tProcessDataProc ansi) const {
    if (ansi_) {
        if (setProcessDataProc_) setProcessDataProc_(archive, ansi);
    } else if (setProcessDataProcW_) {
        setProcessDataProcW_(archive, wide);
    }
}

int Plugin::ReadHeader(PK_HANDLE archive, Header& header) const {
    if (ansi_) {
        tHeaderData data;
        std::memset(&data, 0, sizeof data);
        const int result = readHeader_(archive, &data);
        if (result != 0) return result;
        header.name = platform::FromAnsi(data.FileName, sizeof data.FileName);
        header.unpackedSize = uint32_t(data.UnpSize);
        header.packedSize = uint32_t(data.PackSize);
        header.fileTime = ShownTime(data.FileTime);
        header.attributes = ShownAttributes(data.FileAttr);
        return 0;
    }
    tHeaderDataExW data;
    std::memset(&data, 0, sizeof data);
    const int result = readHeaderExW_(archive, &data);
    if (result != 0) return result;
    header.name = WideField(data.FileName, PK_NAME_WIDE);
    header.unpackedSize = (uint64_t(data.UnpSizeHigh) << 32) | data.UnpSize;
    header.packedSize = (uint64_t(data.PackSizeHigh) << 32) | data.PackSize;
    header.fileTime = ShownTime(data.FileTime);
    header.attributes = ShownAttributes(data.FileAttr);
    return 0;
}

int Plugin::Process(PK_HANDLE archive, int operation, const std::u16string* destName) const {
    if (ansi_) {
        std::string name;
        if (destName && !platform::ToAnsi(*destName, name)) return -1;
        return processFile_(archive, operation, nullptr, destName ? &name[0] : nullptr);
    }
    if (!destName) return processFileW_(archive, operation, nullptr, nullptr);
    std::vector<PK_WCHAR> name = WideArgument(*destName);
    return processFileW_(archive, operation, nullptr, name.data());
}

int Plugin::Close(PK_HANDLE archive) const { return closeArchive_(archive); }

}  // namespace wcxhost
