#include "Container.h"

#include <algorithm>

#include "EntryNames.h"
#include "SystemAccess.h"
#include "text/Utf8.h"

namespace sevenzip {

namespace {

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;
constexpr uint32_t kAttributeSystem = 0x04;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
// 7-Zip's mark for Windows attributes whose high 16 bits hold a Unix mode.
constexpr uint32_t kAttributeUnixExtension = 0x8000;

// A wrong password passes ZipCrypto's one-byte check once in 256 tries, and AES in 7z shows
// itself only in the decoded data: this much of the first encrypted entry (or all of it) tells.
constexpr uint64_t kPasswordCheckBytes = 1u << 20;

SM_FILETIME ToContract(const FileTime& time) { return SM_FILETIME{time.low, time.high}; }

bool Succeeded(int32_t result) { return result == kResultOk || result == kResultDataAfterEnd; }

// Writes into the target file.
class FileSink : public DataSink {
public:
    explicit FileSink(OutputFile& output) : output_(output) {}
    bool Write(const void* data, size_t size) override { return output_.Write(data, size); }

private:
    OutputFile& output_;
};

void Report(const ExtractRequest& request, uint64_t amount) {
    while (amount > 0) {
        const uint64_t step = std::min<uint64_t>(amount, 1u << 30);
        request.ProgressProc(request.ProgressContext, int32_t(step), 0);
        amount -= step;
    }
}

}  // namespace

uint32_t EntryAttributes(bool directory, bool hasWindows, uint32_t windows, bool hasUnix, uint32_t unix) {
    uint32_t attributes = directory ? kAttributeDirectory : kAttributeArchive;
    if (hasWindows) {
        attributes |= windows & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem);
        if (!hasUnix && (windows & kAttributeUnixExtension)) {
            hasUnix = true;
            unix = windows >> 16;
        }
    }
    if (hasUnix && !directory && (unix & 0222) == 0) attributes |= kAttributeReadOnly;
    return attributes;
}

int32_t Container::Open(const std::u16string& path, const char* password, const FormatLibrary& library,
                        const ModuleSettings& settings, std::unique_ptr<Container>& container) {
    auto state = std::make_shared<PasswordState>();
    state->given = password != nullptr;
    state->text = DecodePassword(password);
    std::unique_ptr<Container> opened(new Container(library, settings, state));
    switch (opened->chain_.Open(path, state)) {
    case OpenOutcome::NotMine: return SM_OPEN_NOT_MINE;
    case OpenOutcome::NeedPassword: return SM_OPEN_NEED_PASSWORD;
    case OpenOutcome::Opened: break;
    }
    // Encrypted headers that opened hold the password as right. Otherwise the first encrypted
    // entry with data is asked, so that a wrong password asks again instead of writing broken files.
    if (!opened->chain_.HeadersEncrypted()) {
        bool encrypted = false;
        const bool opens = opened->PasswordOpensFirstEncryptedItem(encrypted);
        if (encrypted && (!state->given || !opens)) return SM_OPEN_NEED_PASSWORD;
    }
    container = std::move(opened);
    return SM_OPEN_OK;
}

bool Container::PasswordOpensFirstEncryptedItem(bool& encrypted) {
    IInArchive& archive = *chain_.Innermost().archive;
    uint32_t count = 0;
    if (archive.GetNumberOfItems(&count) != kOk) return true;
    Property value;
    for (uint32_t item = 0; item < count; ++item) {
        if (archive.GetProperty(item, kpidEncrypted, value.Receive()) != kOk || !value.Flag()) continue;
        encrypted = true;
        uint64_t size = 0;
        if (archive.GetProperty(item, kpidIsDir, value.Receive()) == kOk && value.Flag()) continue;
        if (archive.GetProperty(item, kpidSize, value.Receive()) != kOk || !value.Number(size) || size == 0) continue;
        if (!password_->given) return false;
        return PasswordOpensItem(archive, item, password_, kPasswordCheckBytes);
    }
    // No encrypted entry with data: nothing to hold the password against.
    return true;
}

bool Container::Prepare() {
    chain_.OpenDecodedContent();
    return LoadEntries();
}

bool Container::LoadEntries() {
    if (loaded_) return true;
    IInArchive& archive = *chain_.Innermost().archive;
    uint32_t count = 0;
    if (archive.GetNumberOfItems(&count) != kOk) return false;
    entries_.reserve(count);
    Property value;
    for (uint32_t item = 0; item < count; ++item) {
        // Alternate data streams, deleted files and the folders a file system keeps for its own
        // records ("[SYS]") are not files of their own: 7-Zip does not list them either.
        if (archive.GetProperty(item, kpidIsAltStream, value.Receive()) == kOk && value.Flag()) continue;
        if (archive.GetProperty(item, kpidIsAux, value.Receive()) == kOk && value.Flag()) continue;
        if (archive.GetProperty(item, kpidIsDeleted, value.Receive()) == kOk && value.Flag()) continue;
        Entry entry;
        entry.item = item;
        entry.name = formats::NeutralName(chain_.ItemPath(item), kPathSeparator);
        if (entry.name.empty()) continue;
        entry.directory = archive.GetProperty(item, kpidIsDir, value.Receive()) == kOk && value.Flag();
        if (!entry.directory) {
            if (archive.GetProperty(item, kpidSize, value.Receive()) == kOk) value.Number(entry.size);
            if (archive.GetProperty(item, kpidPackSize, value.Receive()) == kOk) value.Number(entry.packedSize);
        }
        uint64_t windows = 0, unix = 0;
        const bool hasWindows = archive.GetProperty(item, kpidAttrib, value.Receive()) == kOk && value.Number(windows);
        const bool hasUnix = archive.GetProperty(item, kpidPosixAttrib, value.Receive()) == kOk && value.Number(unix);
        entry.attributes = EntryAttributes(entry.directory, hasWindows, uint32_t(windows), hasUnix, uint32_t(unix));
        FileTime time{};
        if (archive.GetProperty(item, kpidMTime, value.Receive()) == kOk && value.Time(time)) entry.modified = ToContract(time);
        entry.created = entry.modified;
        if (archive.GetProperty(item, kpidCTime, value.Receive()) == kOk && value.Time(time)) entry.created = ToContract(time);
        if (!entry.directory) {
            // Extraction never makes a link that could lead elsewhere: a symbolic link becomes a
            // file that holds its target, a hard link a copy of its target's data.
            if (archive.GetProperty(item, kpidSymLink, value.Receive()) == kOk && value.IsText()) {
                entry.symbolicLink = true;
                entry.linkText = text::ToUtf8(value.Text());
                entry.size = entry.linkText.size();
            } else if (archive.GetProperty(item, kpidHardLink, value.Receive()) == kOk && value.IsText()) {
                entry.hardLinkTarget = formats::NeutralName(value.Text(), kPathSeparator);
            }
        }
        entries_.push_back(std::move(entry));
    }
    // A hard link's size is its target's.
    for (size_t index = 0; index < entries_.size(); ++index) {
        Entry& entry = entries_[index];
        if (entry.hardLinkTarget.empty()) continue;
        for (size_t source = index; source-- > 0;) {
            if (entries_[source].name == entry.hardLinkTarget && !entries_[source].directory) {
                entry.size = entries_[source].size;
                break;
            }
        }
    }
    loaded_ = true;
    return true;
}

int32_t Container::ReadEntry(int32_t index, EntryInfo& info) {
    if (index < 0) return SM_ENTRY_ERROR;
    if (!LoadEntries()) return SM_ENTRY_ERROR;
    // An archive cut short lists what was read before the cut, then says it is incomplete.
    if (size_t(index) >= entries_.size()) return chain_.CutShort() ? SM_ENTRY_ERROR : SM_ENTRY_END;
    const Entry& entry = entries_[size_t(index)];
    info.UnpackedSize = entry.size;
    info.PackedSize = entry.packedSize;
    info.Attributes = entry.attributes;
    info.LastWriteTime = entry.modified;
    info.CreationTime = entry.created;
    const std::u16string name = formats::CutAtCharacter(entry.name, SM_NAME_LENGTH - 1);
    std::copy(name.begin(), name.end(), info.Name);
    info.Name[name.size()] = 0;
    return SM_ENTRY_OK;
}

int32_t Container::Extract(const ExtractRequest& request) {
    if (request.EntryIndex < 0 || !request.TargetPath || !request.ProgressProc || !LoadEntries()) return kExtractImpossible;
    if (size_t(request.EntryIndex) >= entries_.size()) return kExtractImpossible;
    const Entry& entry = entries_[size_t(request.EntryIndex)];
    std::u16string target;
    for (const SM_WCHAR* c = request.TargetPath; *c; ++c) target += char16_t(*c);
    if (entry.directory) return MakeDirectory(target) ? SM_EXTRACT_OK : SM_EXTRACT_WRITE_ERROR;

    const Entry* source = &entry;
    if (!entry.hardLinkTarget.empty()) {
        source = nullptr;
        for (size_t index = size_t(request.EntryIndex); index-- > 0;)
            if (entries_[index].name == entry.hardLinkTarget && !entries_[index].directory) {
                source = &entries_[index];
                break;
            }
        if (!source) return SM_EXTRACT_BAD_DATA;
    }
    OutputFile output;
    if (!output.Create(target)) return SM_EXTRACT_WRITE_ERROR;
    if (source->symbolicLink) {
        if (!output.Write(source->linkText.data(), source->linkText.size())) return SM_EXTRACT_WRITE_ERROR;
        Report(request, source->linkText.size());
    } else {
        const int32_t result = WriteItem(*source, output, request);
        if (result != SM_EXTRACT_OK) return result;  // `output` deletes the incomplete file
    }
    return output.Close() ? SM_EXTRACT_OK : SM_EXTRACT_WRITE_ERROR;
}

int32_t Container::WriteItem(const Entry& entry, OutputFile& output, const ExtractRequest& request) {
    if (!extraction_) {
        const ArchiveLevel& innermost = chain_.Innermost();
        uint32_t count = 0;
        if (innermost.archive->GetNumberOfItems(&count) != kOk) return kExtractImpossible;
        extraction_.reset(new RunningExtraction(innermost.archive, count, password_));
    }
    FileSink sink(output);
    const ItemOutcome outcome = extraction_->Extract(entry.item, sink, [&](uint64_t amount) { Report(request, amount); });
    switch (outcome.kind) {
    case ItemOutcome::WriteFailed: return SM_EXTRACT_WRITE_ERROR;
    case ItemOutcome::Aborted:
        if (chain_.SourceFailed()) return SM_EXTRACT_READ_ERROR;
        return outcome.error == kOk ? kExtractImpossible : SM_EXTRACT_BAD_DATA;
    case ItemOutcome::Extracted: break;
    }
    if (Succeeded(outcome.result)) return SM_EXTRACT_OK;
    if (chain_.SourceFailed()) return SM_EXTRACT_READ_ERROR;
    if (outcome.result == kResultUnsupportedMethod || outcome.result == kResultUnavailable) return kExtractImpossible;
    return SM_EXTRACT_BAD_DATA;
}

}  // namespace sevenzip
