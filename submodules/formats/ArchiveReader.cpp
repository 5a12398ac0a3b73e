#include "ArchiveReader.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "EntryNames.h"
#include "SystemAccess.h"
#include "text/Utf8.h"

namespace formats {

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kZeroChunk = 64 * 1024;
// libarchive asks for a retry of a header at most this often before the pass counts as broken.
constexpr int kRetries = 16;

struct FormatRegistration {
    const char* name;
    int (*add)(struct archive*);
};
const FormatRegistration kFormatRegistrations[] = {
    {"7zip", archive_read_support_format_7zip},
    {"ar", archive_read_support_format_ar},
    {"cab", archive_read_support_format_cab},
    {"cpio", archive_read_support_format_cpio},
    {"iso9660", archive_read_support_format_iso9660},
    {"lha", archive_read_support_format_lha},
    {"rar", archive_read_support_format_rar},
    {"rar5", archive_read_support_format_rar5},
    {"tar", archive_read_support_format_tar},
    {"warc", archive_read_support_format_warc},
    {"xar", archive_read_support_format_xar},
    {"zip", archive_read_support_format_zip},
};

struct FilterRegistration {
    const char* name;
    int (*add)(struct archive*);
    const char* (*library)();  // null when libarchive decodes the filter itself
};
const FilterRegistration kFilterRegistrations[] = {
    {"gzip", archive_read_support_filter_gzip, archive_zlib_version},
    {"bzip2", archive_read_support_filter_bzip2, archive_bzlib_version},
    {"xz", archive_read_support_filter_xz, archive_liblzma_version},
    {"lzma", archive_read_support_filter_lzma, archive_liblzma_version},
    {"lzip", archive_read_support_filter_lzip, archive_liblzma_version},
    {"zstd", archive_read_support_filter_zstd, archive_libzstd_version},
    {"lz4", archive_read_support_filter_lz4, archive_liblz4_version},
    {"compress", archive_read_support_filter_compress, nullptr},
    {"uu", archive_read_support_filter_uu, nullptr},
    {"rpm", archive_read_support_filter_rpm, nullptr},
};

const char* ErrorOf(struct archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "unknown error";
}

// The charset libarchive is to read names in where the archive does not say. For UTF-8 it is
// ISO-8859-1, which passes every byte through as one character: libarchive drops a name that is
// not valid in the charset it was given, and so an old archive's names would be lost. The bytes
// are decoded as UTF-8 afterwards, where they are UTF-8.
std::string HeaderCharset(const ModuleSettings& settings) {
    return settings.codePage == 65001 ? "ISO-8859-1" : settings.charset;
}

// Formats whose names are in the header charset unless the archive marks them as Unicode.
bool TakesHeaderCharset(int format) {
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_CAB:
    case ARCHIVE_FORMAT_CPIO:
    case ARCHIVE_FORMAT_LHA:
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_TAR:
    case ARCHIVE_FORMAT_ZIP: return true;
    default: return false;
    }
}

// Registers the settings' formats and filters and applies their charset and options.
bool Configure(struct archive* a, const ModuleSettings& settings, std::string& problem) {
    for (const std::string& name : settings.formats) {
        for (const FormatRegistration& format : kFormatRegistrations) {
            if (name != format.name) continue;
            if (format.add(a) != ARCHIVE_OK) {
                problem = "format " + name + ": " + ErrorOf(a);
                return false;
            }
        }
    }
    for (const std::string& name : settings.filters) {
        if (!FilterIsAvailable(name)) continue;
        for (const FilterRegistration& filter : kFilterRegistrations) {
            // Anything but ARCHIVE_OK would mean a fallback to an external program.
            if (name == filter.name && filter.add(a) != ARCHIVE_OK) {
                problem = "filter " + name + ": " + ErrorOf(a);
                return false;
            }
        }
    }
    // Formats without a charset of their own ignore the option; an unusable charset is fatal.
    const std::string charset = HeaderCharset(settings);
    if (archive_read_set_format_option(a, nullptr, "hdrcharset", charset.c_str()) == ARCHIVE_FATAL) {
        problem = "charset " + settings.charset + ": " + ErrorOf(a);
        return false;
    }
    if (!settings.options.empty() && archive_read_set_options(a, settings.options.c_str()) < ARCHIVE_WARN) {
        problem = "options: " + std::string(ErrorOf(a));
        return false;
    }
    return true;
}

bool WriteZeros(DataSink& sink, uint64_t count) {
    static const unsigned char kZeros[kZeroChunk] = {};
    while (count > 0) {
        const size_t chunk = size_t(std::min<uint64_t>(count, kZeroChunk));
        if (!sink.Write(kZeros, chunk)) return false;
        count -= chunk;
    }
    return true;
}

}  // namespace

// libarchive's client callbacks, each reading through the stream of one volume.
struct ReaderCallbacks {
    static la_ssize_t Read(struct archive* a, void* data, const void** buffer) {
        auto* volume = static_cast<ArchiveReader::Volume*>(data);
        ArchiveReader* reader = volume->reader;
        const int64_t got = volume->stream->Read(reader->buffer_.data(), reader->buffer_.size());
        if (got < 0) {
            reader->readFailed_ = true;
            archive_set_error(a, EIO, "the archive cannot be read");
            return -1;
        }
        *buffer = reader->buffer_.data();
        return la_ssize_t(got);
    }
    static la_int64_t Seek(struct archive*, void* data, la_int64_t offset, int whence) {
        const int64_t position = static_cast<ArchiveReader::Volume*>(data)->stream->Seek(offset, whence);
        return position < 0 ? ARCHIVE_FATAL : position;
    }
    // Skips forward within the volume, never past its end: libarchive reads on into the next
    // volume for the rest.
    static la_int64_t Skip(struct archive*, void* data, la_int64_t request) {
        ByteStream& stream = *static_cast<ArchiveReader::Volume*>(data)->stream;
        const int64_t here = stream.Seek(0, SEEK_CUR);
        const int64_t end = stream.Seek(0, SEEK_END);
        if (here < 0 || end < here) return 0;
        const int64_t skipped = std::min<int64_t>(request, end - here);
        return stream.Seek(here + skipped, SEEK_SET) < 0 ? 0 : skipped;
    }
    // The next volume is read from its start, as if it had just been opened.
    static int Switch(struct archive*, void* /*from*/, void* to) {
        return static_cast<ArchiveReader::Volume*>(to)->stream->Seek(0, SEEK_SET) == 0 ? ARCHIVE_OK : ARCHIVE_FATAL;
    }
};

bool FilterIsAvailable(const std::string& name) {
    for (const FilterRegistration& filter : kFilterRegistrations)
        if (name == filter.name) return filter.library == nullptr || filter.library() != nullptr;
    return false;
}

bool CheckReaderSettings(const ModuleSettings& settings, std::string& problem) {
    struct archive* a = archive_read_new();
    if (!a) {
        problem = "libarchive cannot start";
        return false;
    }
    const bool usable = Configure(a, settings, problem);
    archive_read_free(a);
    return usable;
}

ArchiveReader::ArchiveReader(ByteSource& source, const ModuleSettings& settings, const std::string& passphrase)
    : source_(source), settings_(settings), passphrase_(passphrase), buffer_(kBufferSize) {}

ArchiveReader::~ArchiveReader() { EndPass(); }

bool ArchiveReader::Open() { return StartPass(); }

void ArchiveReader::EndPass() {
    if (archive_) archive_read_free(archive_);
    archive_ = nullptr;
    volumes_.clear();
}

bool ArchiveReader::StartPass() {
    EndPass();
    next_ = 0;
    failedAt_ = -1;
    dataRead_ = ended_ = broken_ = readFailed_ = false;
    for (size_t volume = 0; volume < source_.Volumes(); ++volume) {
        volumes_.push_back(Volume{this, source_.OpenStream(volume)});
        if (!volumes_.back().stream) {
            error_ = "the archive cannot be opened";
            EndPass();
            return false;
        }
    }
    archive_ = archive_read_new();
    if (!archive_ || !Configure(archive_, settings_, error_)) {
        EndPass();
        return false;
    }
    if (!passphrase_.empty()) archive_read_add_passphrase(archive_, passphrase_.c_str());
    // libarchive reads the volumes as one stream, in order.
    bool added = true;
    for (Volume& volume : volumes_) added = added && archive_read_append_callback_data(archive_, &volume) == ARCHIVE_OK;
    archive_read_set_read_callback(archive_, ReaderCallbacks::Read);
    archive_read_set_seek_callback(archive_, ReaderCallbacks::Seek);
    archive_read_set_skip_callback(archive_, ReaderCallbacks::Skip);
    archive_read_set_switch_callback(archive_, ReaderCallbacks::Switch);
    if (!added || archive_read_open1(archive_) != ARCHIVE_OK) {
        error_ = ErrorOf(archive_);
        EndPass();
        return false;
    }
    return true;
}

Step ArchiveReader::MoveTo(size_t index, bool forData) {
    const bool atEntry = archive_ && next_ > 0;
    const bool behind = atEntry && (index < next_ - 1 || (index == next_ - 1 && forData && dataRead_));
    if ((!archive_ || behind) && !StartPass()) return Step::Error;
    while (next_ <= index) {
        if (ended_) return Step::End;
        if (broken_) return Step::Error;
        const Step step = ReadNextListed();
        if (step != Step::Entry) return step;
    }
    return Step::Entry;
}

Step ArchiveReader::ReadNextListed() {
    int retries = 0;
    for (;;) {
        struct archive_entry* header = nullptr;
        const int result = archive_read_next_header(archive_, &header);
        if (result == ARCHIVE_EOF) {
            ended_ = true;
            return Step::End;
        }
        if (result == ARCHIVE_RETRY && ++retries < kRetries) continue;
        // A header that fails twice at the same place would fail for ever.
        const int64_t position = archive_read_header_position(archive_);
        if (result == ARCHIVE_FAILED && position == failedAt_) broken_ = true;
        if (result == ARCHIVE_FAILED) failedAt_ = position;
        if (result < ARCHIVE_FAILED || !header || broken_) {
            error_ = ErrorOf(archive_);
            broken_ = true;
            return Step::Error;
        }
        ArchiveEntry entry;
        if (!Describe(header, entry)) continue;
        entry.readable = result != ARCHIVE_FAILED;
        if (entry.kind == EntryKind::HardLink) {
            size_t target = 0;
            FindFile(entry.hardLinkTarget, next_, target, entry.size);
        }
        entry_ = std::move(entry);
        dataRead_ = false;
        const size_t index = next_++;
        if (index >= listed_) {
            listed_ = index + 1;
            if (entry_.kind == EntryKind::File && entry_.readable) files_[entry_.name].emplace_back(index, entry_.size);
        }
        return Step::Entry;
    }
}

std::u16string ArchiveReader::DecodeName(struct archive_entry* header, const char* (*bytes)(struct archive_entry*),
                                         const wchar_t* (*wide)(struct archive_entry*)) const {
    // These formats keep names as bytes that libarchive does not convert: they are decoded
    // here, in the settings' code page, and so come out the same on every system.
    const int format = archive_format(archive_);
    const int base = format & ARCHIVE_FORMAT_BASE_MASK;
    if (base == ARCHIVE_FORMAT_AR || base == ARCHIVE_FORMAT_WARC || format == ARCHIVE_FORMAT_ISO9660_ROCKRIDGE) {
        const char* raw = bytes(header);
        return raw ? DecodeText(raw, settings_.codePage, settings_.charset) : std::u16string();
    }
    std::u16string name;
    if (const wchar_t* text = wide(header)) {
        name = FromWide(text);
    } else if (const char* raw = bytes(header)) {
        name = text::FromUtf8(raw);
    }
    return settings_.codePage == 65001 && TakesHeaderCharset(format) ? RedecodeAsUtf8(name) : name;
}

bool ArchiveReader::Describe(struct archive_entry* header, ArchiveEntry& entry) const {
    entry.name = NeutralName(DecodeName(header, archive_entry_pathname, archive_entry_pathname_w));
    if (entry.name.empty()) return false;
    const bool sized = archive_entry_size_is_set(header) && archive_entry_size(header) > 0;
    const bool hardLink = archive_entry_hardlink_w(header) != nullptr || archive_entry_hardlink(header) != nullptr;
    const auto type = archive_entry_filetype(header);
    if (hardLink && !sized) {
        entry.kind = EntryKind::HardLink;
        entry.hardLinkTarget = NeutralName(DecodeName(header, archive_entry_hardlink, archive_entry_hardlink_w));
    } else if (type == AE_IFDIR) {
        entry.kind = EntryKind::Directory;
    } else if (type == AE_IFLNK) {
        entry.kind = EntryKind::SymbolicLink;
        entry.linkText = text::ToUtf8(DecodeName(header, archive_entry_symlink, archive_entry_symlink_w));
        entry.size = entry.linkText.size();
    } else if (type == AE_IFREG || type == 0) {
        entry.kind = EntryKind::File;
        entry.size = sized ? uint64_t(archive_entry_size(header)) : 0;
        entry.sizeKnown = archive_entry_size_is_set(header) != 0;
    } else {
        return false;  // devices, FIFOs and sockets have nothing to extract
    }
    entry.mode = uint32_t(archive_entry_perm(header)) & 07777;
    entry.hasModificationTime = archive_entry_mtime_is_set(header) != 0;
    if (entry.hasModificationTime) {
        entry.modificationTime = archive_entry_mtime(header);
        entry.modificationNanoseconds = uint32_t(archive_entry_mtime_nsec(header));
    }
    entry.hasBirthTime = archive_entry_birthtime_is_set(header) != 0;
    if (entry.hasBirthTime) {
        entry.birthTime = archive_entry_birthtime(header);
        entry.birthNanoseconds = uint32_t(archive_entry_birthtime_nsec(header));
    }
    entry.encrypted = archive_entry_is_data_encrypted(header) != 0;
    return true;
}

DataResult ArchiveReader::ReadData(DataSink& sink) {
    if (!archive_ || next_ == 0 || dataRead_ || broken_) return DataResult::BadData;
    dataRead_ = true;
    if (!entry_.readable) return DataResult::BadData;
    uint64_t written = 0;
    for (int emptyBlocks = 0;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(archive_, &block, &size, &offset);
        if (result == ARCHIVE_EOF) {
            // A sparse file may end in a hole after its last block: TAR tells where the data ends.
            // Other formats leave other values here, so the entry's size bounds it.
            uint64_t end = offset > 0 ? std::min(uint64_t(offset), entry_.size) : 0;
            // zisofs leaves out the all-zero blocks at a file's end. An ISO image's data is all
            // there when libarchive ends it (a cut image fails instead): the rest is a hole.
            if ((archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ISO9660) end = entry_.size;
            if (end > written && !WriteZeros(sink, end - written)) return DataResult::Stopped;
            written = std::max(written, end);
            // Some readers (WARC) take a cut archive's end for the end of the data.
            if (entry_.sizeKnown && written != entry_.size) {
                error_ = "the data ends before its stated size";
                return DataResult::BadData;
            }
            return DataResult::Ok;
        }
        // A warning here is a CRC that does not match: the data is not what was stored.
        if (result != ARCHIVE_OK) {
            error_ = ErrorOf(archive_);
            if (result == ARCHIVE_FATAL) broken_ = true;
            return readFailed_ ? DataResult::ReadFailed : DataResult::BadData;
        }
        // Damaged data must not keep the reader going round without progress.
        emptyBlocks = size == 0 && uint64_t(offset) == written ? emptyBlocks + 1 : 0;
        if (offset < 0 || uint64_t(offset) < written || emptyBlocks > kRetries) {
            error_ = "data blocks out of order";
            return DataResult::BadData;
        }
        if (!WriteZeros(sink, uint64_t(offset) - written)) return DataResult::Stopped;
        written = uint64_t(offset);
        if (size > 0 && !sink.Write(block, size)) return DataResult::Stopped;
        written += size;
    }
}

bool ArchiveReader::FindFile(const std::u16string& name, size_t before, size_t& index, uint64_t& size) const {
    const auto found = files_.find(name);
    if (found == files_.end()) return false;
    for (auto it = found->second.rbegin(); it != found->second.rend(); ++it) {
        if (it->first < before) {
            index = it->first;
            size = it->second;
            return true;
        }
    }
    return false;
}

bool ArchiveReader::HasEncryptedEntries() const {
    return archive_ && archive_read_has_encrypted_entries(archive_) == 1;
}

bool ArchiveReader::CanDecrypt() const {
    return archive_ && (archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
}

bool ArchiveReader::IsRar() const {
    const int base = archive_ ? archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK : 0;
    return base == ARCHIVE_FORMAT_RAR || base == ARCHIVE_FORMAT_RAR_V5;
}

bool ArchiveReader::IsTar() const {
    return archive_ && (archive_format(archive_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
}

std::string ArchiveReader::ErrorText() const { return error_; }

}  // namespace formats
