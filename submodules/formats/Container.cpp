#include "Container.h"

#include <algorithm>

namespace formats {

namespace {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;

// A wrong ZIP password passes libarchive's one-byte check once in 256 tries; decoding this much
// of the first encrypted entry (or all of it, when shorter) exposes it.
constexpr size_t kPasswordCheckBytes = 1u << 20;
// Progress goes to Morvane in steps of about this size, and once more at the end.
constexpr size_t kProgressStep = 1u << 20;
// GNU tar and bsdtar pad an archive to a record of 20 blocks: an empty one is no longer than that.
constexpr uint64_t kLargestEmptyTar = 20 * 512;

// FILETIME counts 100 ns from 1601-01-01; times it cannot hold are "no time" (zero).
SM_FILETIME ToFileTime(int64_t seconds, uint32_t nanoseconds) {
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr int64_t kLastSecond = INT64_MAX / 10000000 - kSecondsFrom1601To1970 - 1;
    SM_FILETIME time{0, 0};
    if (seconds < -kSecondsFrom1601To1970 || seconds > kLastSecond) return time;
    const uint64_t ticks = uint64_t(seconds + kSecondsFrom1601To1970) * 10000000u + nanoseconds % 1000000000u / 100;
    time.LowDateTime = uint32_t(ticks);
    time.HighDateTime = uint32_t(ticks >> 32);
    return time;
}

// Counts what it is given and stops after `limit` bytes.
class CheckingSink : public DataSink {
public:
    explicit CheckingSink(size_t limit) : left_(limit) {}
    bool Write(const void*, size_t size) override {
        left_ -= std::min(left_, size);
        return left_ > 0;
    }

private:
    size_t left_;
};

// Writes into the target file and tells Morvane how far it got.
class ExtractionSink : public DataSink {
public:
    ExtractionSink(OutputFile& output, const ExtractRequest& request) : output_(output), request_(request) {}
    bool Write(const void* data, size_t size) override {
        if (!output_.Write(data, size)) {
            writeFailed_ = true;
            return false;
        }
        pending_ += size;
        if (pending_ >= kProgressStep) Flush();
        return true;
    }
    void Flush() {
        if (pending_ > 0) request_.ProgressProc(request_.ProgressContext, int32_t(pending_), 0);
        pending_ = 0;
    }
    bool WriteFailed() const { return writeFailed_; }

private:
    OutputFile& output_;
    const ExtractRequest& request_;
    size_t pending_ = 0;
    bool writeFailed_ = false;
};

}  // namespace

Container::Container(std::unique_ptr<ArchiveFile> file, const ModuleSettings& settings, const std::string& password)
    : file_(std::move(file)), settings_(settings), reader_(*file_, settings_, password) {}

int32_t Container::Open(const std::u16string& path, const char* password, const ModuleSettings& settings,
                        std::unique_ptr<Container>& container) {
    std::unique_ptr<ArchiveFile> file = ArchiveFile::Open(path);
    if (!file) return SM_OPEN_NOT_MINE;
    const std::string passwordText = password ? password : "";
    std::unique_ptr<Container> opened(new Container(std::move(file), settings, passwordText));
    ArchiveReader& reader = opened->reader_;
    // A claim needs a format that recognises the content and a first entry that can be read
    // (or an archive that is empty).
    if (!reader.Open()) return SM_OPEN_NOT_MINE;
    Step first = reader.MoveTo(0, false);
    // The first volume of a RAR set is read with the later volumes beside it, as one archive.
    if (reader.IsRar() && opened->file_->OpenLaterVolumes() > 0) {
        if (!reader.Open()) return SM_OPEN_NOT_MINE;
        first = reader.MoveTo(0, false);
    }
    if (first == Step::Error) return SM_OPEN_NOT_MINE;
    // libarchive reads zero blocks as the end of an empty TAR archive: a longer file that starts
    // with them (a file system image, a fixed VHD) is no such archive, and belongs to a module
    // after this one.
    if (first == Step::End && reader.IsTar() && opened->file_->Size() > kLargestEmptyTar) return SM_OPEN_NOT_MINE;
    // Encryption that libarchive cannot undo (7z, RAR) is no reason to ask: such archives are
    // listed, and their encrypted entries fail to extract.
    if (first == Step::Entry && reader.CanDecrypt() && (reader.HasEncryptedEntries() || reader.Current().encrypted)) {
        if (passwordText.empty() || !opened->PasswordOpensFirstEncryptedEntry()) return SM_OPEN_NEED_PASSWORD;
    }
    container = std::move(opened);
    return SM_OPEN_OK;
}

bool Container::PasswordOpensFirstEncryptedEntry() {
    for (size_t index = 0;; ++index) {
        // No encrypted entry with data that could be read: nothing to hold the password against.
        if (reader_.MoveTo(index, true) != Step::Entry) return true;
        const ArchiveEntry& entry = reader_.Current();
        if (!entry.encrypted || !entry.readable || entry.kind != EntryKind::File) continue;
        CheckingSink sink(kPasswordCheckBytes);
        const DataResult result = reader_.ReadData(sink);
        return result == DataResult::Ok || result == DataResult::Stopped;
    }
}

int32_t Container::ReadEntry(int32_t index, EntryInfo& info) {
    if (index < 0) return SM_ENTRY_ERROR;
    switch (reader_.MoveTo(size_t(index), false)) {
    case Step::End: return SM_ENTRY_END;
    case Step::Error: return SM_ENTRY_ERROR;
    case Step::Entry: break;
    }
    const ArchiveEntry& entry = reader_.Current();
    const bool directory = entry.kind == EntryKind::Directory;
    info.UnpackedSize = directory ? 0 : entry.size;
    // libarchive does not tell how much of the archive an entry takes.
    info.PackedSize = info.UnpackedSize;
    info.Attributes = directory ? kAttributeDirectory : kAttributeArchive;
    if (!directory && (entry.mode & 0222) == 0) info.Attributes |= kAttributeReadOnly;
    if (entry.hasModificationTime) info.LastWriteTime = ToFileTime(entry.modificationTime, entry.modificationNanoseconds);
    info.CreationTime = entry.hasBirthTime ? ToFileTime(entry.birthTime, entry.birthNanoseconds) : info.LastWriteTime;
    const size_t length = std::min<size_t>(entry.name.size(), SM_NAME_LENGTH - 1);
    std::copy(entry.name.begin(), entry.name.begin() + length, info.Name);
    info.Name[length] = 0;
    return SM_ENTRY_OK;
}

int32_t Container::Extract(const ExtractRequest& request) {
    if (request.EntryIndex < 0 || !request.TargetPath || !request.ProgressProc) return kExtractImpossible;
    const size_t index = size_t(request.EntryIndex);
    switch (reader_.MoveTo(index, false)) {
    case Step::End: return kExtractImpossible;
    case Step::Error: return reader_.SourceFailed() ? SM_EXTRACT_READ_ERROR : SM_EXTRACT_BAD_DATA;
    case Step::Entry: break;
    }
    const ArchiveEntry entry = reader_.Current();
    std::u16string target;
    for (const SM_WCHAR* c = request.TargetPath; *c; ++c) target += char16_t(*c);

    if (entry.kind == EntryKind::Directory) return MakeDirectory(target) ? SM_EXTRACT_OK : SM_EXTRACT_WRITE_ERROR;
    if (!entry.readable || (entry.encrypted && !reader_.CanDecrypt())) return SM_EXTRACT_BAD_DATA;

    size_t source = index;
    if (entry.kind == EntryKind::HardLink) {
        uint64_t size = 0;
        if (!reader_.FindFile(entry.hardLinkTarget, index, source, size)) return SM_EXTRACT_BAD_DATA;
    }
    OutputFile output;
    if (!output.Create(target)) return SM_EXTRACT_WRITE_ERROR;
    if (entry.kind == EntryKind::SymbolicLink) {
        // The link's target as text: extraction never makes a link that could lead elsewhere.
        if (!output.Write(entry.linkText.data(), entry.linkText.size())) return SM_EXTRACT_WRITE_ERROR;
        if (!entry.linkText.empty()) request.ProgressProc(request.ProgressContext, int32_t(entry.linkText.size()), 0);
    } else {
        const int32_t result = WriteData(source, output, request);
        if (result != SM_EXTRACT_OK) return result;  // `output` deletes the incomplete file
    }
    return output.Close() ? SM_EXTRACT_OK : SM_EXTRACT_WRITE_ERROR;
}

int32_t Container::WriteData(size_t index, OutputFile& output, const ExtractRequest& request) {
    switch (reader_.MoveTo(index, true)) {
    case Step::End: return kExtractImpossible;
    case Step::Error: return reader_.SourceFailed() ? SM_EXTRACT_READ_ERROR : SM_EXTRACT_BAD_DATA;
    case Step::Entry: break;
    }
    ExtractionSink sink(output, request);
    const DataResult result = reader_.ReadData(sink);
    sink.Flush();
    switch (result) {
    case DataResult::Ok: return SM_EXTRACT_OK;
    case DataResult::Stopped: return SM_EXTRACT_WRITE_ERROR;
    case DataResult::ReadFailed: return SM_EXTRACT_READ_ERROR;
    case DataResult::BadData: break;
    }
    return SM_EXTRACT_BAD_DATA;
}

}  // namespace formats
