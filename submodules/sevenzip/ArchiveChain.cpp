#include "ArchiveChain.h"

#include <algorithm>

namespace sevenzip {

namespace {

// How far into a program file an archive behind it is looked for.
constexpr uint64_t kSearchLimit = 1u << 24;
// Split archive, disk image, partition, file system: more levels than that are no real file.
constexpr size_t kDeepestLevel = 6;

std::u16string ExtensionOf(const std::u16string& name) {
    const size_t dot = name.rfind(u'.');
    return dot == std::u16string::npos ? std::u16string() : LowerCase(name.substr(dot + 1));
}

// The first bytes of a stream, as far as the signatures reach.
std::string ReadHead(IInStream& stream, size_t length) {
    std::string head(length, '\0');
    size_t got = 0;
    if (stream.Seek(0, kSeekSet, nullptr) != kOk) return std::string();
    while (got < length) {
        uint32_t processed = 0;
        if (stream.Read(&head[got], uint32_t(length - got), &processed) != kOk || processed == 0) break;
        got += processed;
    }
    head.resize(got);
    return head;
}

size_t LongestMatch(const Format& format, const std::string& head) {
    size_t longest = 0;
    for (const std::string& signature : format.signatures)
        if (head.compare(format.signatureOffset, signature.size(), signature) == 0) longest = std::max(longest, signature.size());
    return longest;
}

}  // namespace

std::u16string DefaultName(const std::u16string& fileName, const Format& format) {
    // 7-Zip's GetDefaultName2: the extension that the name has, if the format knows it, else the
    // format's first one.
    std::u16string extension, added;
    if (!format.extensions.empty()) {
        size_t which = 0;
        const std::u16string own = ExtensionOf(fileName);
        for (size_t i = 0; i < format.extensions.size(); ++i)
            if (format.extensions[i] == own) which = i;
        extension = format.extensions[which];
        added = format.addedExtensions[which];
    }
    std::u16string name;
    const size_t dot = fileName.rfind(u'.');
    if (!extension.empty() && fileName.size() > extension.size() + 1 &&
        fileName[fileName.size() - extension.size() - 1] == u'.' &&
        LowerCase(fileName.substr(fileName.size() - extension.size())) == extension) {
        name = fileName.substr(0, fileName.size() - extension.size() - 1) + added;
    } else if (dot != std::u16string::npos && dot > 0) {
        name = fileName.substr(0, dot) + added;
    } else {
        name = fileName + (added.empty() ? u"~" : added);
    }
    while (!name.empty() && name.back() == u' ') name.pop_back();
    return name;
}

std::u16string ArchiveChain::ItemPath(const ArchiveLevel& level, uint32_t index) const {
    Property value;
    if (level.archive->GetProperty(index, kpidPath, value.Receive()) == kOk && value.IsText()) {
        std::u16string path = value.Text();
        if (!path.empty()) return path;
    }
    bool directory = false;
    if (level.archive->GetProperty(index, kpidIsDir, value.Receive()) == kOk) directory = value.Flag();
    if (directory) return std::u16string();
    std::u16string path = DefaultName(level.name, *level.format);
    if (level.archive->GetProperty(index, kpidExtension, value.Receive()) == kOk && value.IsText())
        path += u"." + value.Text();
    return path;
}

OpenOutcome ArchiveChain::TryFormat(const Format& format, const ComPointer<IInStream>& stream, uint64_t searchLimit,
                                    const ComPointer<OpenCallback>& callback, ArchiveLevel& level) {
    ComPointer<IInArchive> archive = library_.CreateArchive(format);
    if (!archive || stream->Seek(0, kSeekSet, nullptr) != kOk) return OpenOutcome::NotMine;
    password_->asked = false;
    const HResult result = archive->Open(stream.Get(), &searchLimit, callback.Get());
    if (result == kOk) {
        Property flags;
        uint64_t errors = 0;
        if (archive->GetArchiveProperty(kpidErrorFlags, flags.Receive()) != kOk || !flags.Number(errors) ||
            !(errors & kErrorIsNotArchive)) {
            level.format = &format;
            level.archive = archive;
            level.callback = callback;
            level.passwordAsked = password_->asked;
            level.cutShort = (errors & (kErrorHeadersError | kErrorUnexpectedEnd)) != 0;
            return OpenOutcome::Opened;
        }
    }
    archive->Close();
    // A handler that asked for the password and then gave up had none or a wrong one: 7z with
    // encrypted headers answers "not this format" then.
    return password_->asked ? OpenOutcome::NeedPassword : OpenOutcome::NotMine;
}

OpenOutcome ArchiveChain::OpenLevel(const ComPointer<IInStream>& stream, const std::u16string& name,
                                    const ComPointer<OpenCallback>& callback, ArchiveLevel& level) {
    level.name = name;
    const std::string head = ReadHead(*stream, library_.SignatureReach());
    const std::u16string extension = ExtensionOf(name);
    std::vector<const Format*> tried;
    auto attempt = [&](const Format& format, uint64_t searchLimit) {
        tried.push_back(&format);
        return TryFormat(format, stream, searchLimit, callback, level);
    };
    auto untried = [&](const Format& format) {
        return settings_.Allows(format) && std::find(tried.begin(), tried.end(), &format) == tried.end();
    };

    // By content: the longest signature that matches first (an ISO 9660 image is a UDF candidate too).
    std::vector<const Format*> signed_;
    for (const Format& format : library_.Formats())
        if (settings_.Allows(format) && format.SignatureMatches(head)) signed_.push_back(&format);
    std::stable_sort(signed_.begin(), signed_.end(), [&](const Format* a, const Format* b) {
        return LongestMatch(*a, head) > LongestMatch(*b, head);
    });
    for (const Format* format : signed_) {
        const OpenOutcome outcome = attempt(*format, 0);
        if (outcome != OpenOutcome::NotMine) return outcome;
    }
    // By name, for the formats that carry no signature or carry it elsewhere (split volumes, fixed
    // VHD), and those that need none (a partition table).
    for (const Format& format : library_.Formats()) {
        if (!untried(format) || !format.HasExtension(extension)) continue;
        const OpenOutcome outcome = attempt(format, 0);
        if (outcome != OpenOutcome::NotMine) return outcome;
    }
    for (const Format& format : library_.Formats()) {
        if (!untried(format) || !format.signatures.empty() || !(format.flags & kFormatPureStartOpen)) continue;
        const OpenOutcome outcome = attempt(format, 0);
        if (outcome != OpenOutcome::NotMine) return outcome;
    }
    // A program may carry an archive behind it.
    bool program = false;
    for (const Format& format : library_.Formats())
        program = program || ((format.flags & kFormatPreArchive) && format.SignatureMatches(head));
    if (!program) return OpenOutcome::NotMine;
    for (const Format& format : library_.Formats()) {
        if (!untried(format) || !(format.flags & kFormatFindSignature)) continue;
        const OpenOutcome outcome = attempt(format, kSearchLimit);
        if (outcome != OpenOutcome::NotMine) return outcome;
    }
    return OpenOutcome::NotMine;
}

OpenOutcome ArchiveChain::Open(const std::u16string& path, std::shared_ptr<PasswordState> password) {
    Close();
    password_ = std::move(password);
    std::unique_ptr<ReadOnlyFile> file = ReadOnlyFile::Open(path);
    if (!file) return OpenOutcome::NotMine;
    file_ = ComPointer<FileInStream>::Adopt(new FileInStream(std::move(file)));
    const size_t slash = path.find_last_of(u"/\\");
    const std::u16string folder = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
    const std::u16string name = path.substr(folder.size());
    // Volumes are looked for beside the file, in the same folder ("" is the current one).
    ComPointer<OpenCallback> callback =
        ComPointer<OpenCallback>::Adopt(new OpenCallback(password_, folder.empty() ? u"./" : folder, name));
    ArchiveLevel outer;
    const OpenOutcome outcome = OpenLevel(file_.Query<IInStream>(kIidInStream), name, callback, outer);
    if (outcome != OpenOutcome::Opened) {
        Close();
        return outcome;
    }
    levels_.push_back(outer);

    while (settings_.nested && levels_.size() < kDeepestLevel) {
        const ArchiveLevel& level = levels_.back();
        Property value;
        uint64_t main = 0;
        uint32_t count = 0;
        if (level.archive->GetArchiveProperty(kpidMainSubfile, value.Receive()) != kOk || value.Value().type != kTypeUint32 ||
            !value.Number(main) || level.archive->GetNumberOfItems(&count) != kOk || main >= count)
            break;
        ComPointer<IInArchiveGetStream> items = level.archive.Query<IInArchiveGetStream>(kIidInArchiveGetStream);
        ComPointer<ISequentialInStream> sequential;
        if (!items || items->GetStream(uint32_t(main), sequential.Receive()) != kOk || !sequential) break;
        ComPointer<IInStream> stream = sequential.Query<IInStream>(kIidInStream);
        if (!stream) break;
        const std::u16string innerName = ItemPath(level, uint32_t(main));
        ArchiveLevel inner;
        const OpenOutcome nested = OpenLevel(stream, innerName, ComPointer<OpenCallback>::Adopt(new OpenCallback(password_, u"", innerName)), inner);
        if (nested == OpenOutcome::NeedPassword) {
            Close();
            return nested;
        }
        if (nested != OpenOutcome::Opened) break;
        levels_.push_back(inner);
    }
    if (settings_.nested && HoldsExcludedFormat()) {
        Close();
        return OpenOutcome::NotMine;
    }
    return OpenOutcome::Opened;
}

// A compressed stream whose content is a format that the settings exclude (a tar, when Exclude
// names TAR) is left whole to the modules after this one, as the uncompressed archive would be.
bool ArchiveChain::HoldsExcludedFormat() {
    const ArchiveLevel& level = levels_.back();
    uint32_t count = 0;
    if (!level.format->CompressesOneStream() || level.archive->GetNumberOfItems(&count) != kOk || count != 1) return false;
    const ModuleSettings defaults;
    std::vector<const Format*> excluded;
    for (const Format& format : library_.Formats())
        if (defaults.Allows(format) && !settings_.Allows(format)) excluded.push_back(&format);
    if (excluded.empty()) return false;  // nothing to look for: the stream is not decoded
    ComPointer<DecodedStream> decoded = ComPointer<DecodedStream>::Adopt(new DecodedStream(level.archive, 0));
    const std::string head = ReadHead(*decoded, library_.SignatureReach());
    decoded->Stop();
    for (const Format* format : excluded)
        if (format->SignatureMatches(head)) return true;
    return false;
}

void ArchiveChain::OpenDecodedContent() {
    if (!settings_.nested || levels_.empty() || decoded_ || levels_.size() >= kDeepestLevel) return;
    const ArchiveLevel& level = levels_.back();
    uint32_t count = 0;
    if (!level.format->CompressesOneStream() || level.archive->GetNumberOfItems(&count) != kOk || count != 1) return;
    const std::u16string innerName = ItemPath(level, 0);
    ComPointer<DecodedStream> decoded = ComPointer<DecodedStream>::Adopt(new DecodedStream(level.archive, 0));
    ArchiveLevel inner;
    ComPointer<IInStream> stream = decoded.Query<IInStream>(kIidInStream);
    const OpenOutcome outcome =
        OpenLevel(stream, innerName, ComPointer<OpenCallback>::Adopt(new OpenCallback(password_, u"", innerName)), inner);
    if (outcome != OpenOutcome::Opened) {
        decoded->Stop();
        return;
    }
    decoded_ = decoded;
    levels_.push_back(inner);
}

bool ArchiveChain::HeadersEncrypted() const {
    for (const ArchiveLevel& level : levels_)
        if (level.passwordAsked) return true;
    return false;
}

bool ArchiveChain::SourceFailed() const {
    if (file_ && file_->Failed()) return true;
    for (const ArchiveLevel& level : levels_)
        if (level.callback && level.callback->VolumeFailed()) return true;
    return false;
}

void ArchiveChain::Close() {
    // The extraction thread of a compressed stream may wait for its reader: stop it first.
    if (decoded_) decoded_->Stop();
    while (!levels_.empty()) {
        levels_.back().archive->Close();
        levels_.pop_back();
    }
    decoded_.Reset();
    file_.Reset();
}

}  // namespace sevenzip
