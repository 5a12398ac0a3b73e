// One archive read through libarchive, entry by entry, as Morvane asks for them: the entries it
// lists are numbered 0, 1, 2... and any of them can be asked for again. The entry read last and
// the one after it come from the current pass; an earlier one starts a new pass from the first
// byte and skips forward, so a listing with extractions in between costs one pass.
//
// Only the formats and filters of the settings are registered, one by one; a filter whose
// library is not linked in is left out rather than run as an external program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ByteSource.h"
#include "ModuleSettings.h"

struct archive;
struct archive_entry;

namespace formats {

enum class EntryKind { File, Directory, SymbolicLink, HardLink };

struct ArchiveEntry {
    std::u16string name;  // neutral: platform separators, nothing that leads outside the target
    EntryKind kind = EntryKind::File;
    uint64_t size = 0;     // what extraction writes; for a hard link, what its target holds
    bool sizeKnown = false;  // the archive states the size before the data
    uint32_t mode = 0;     // permission bits
    bool hasModificationTime = false;
    int64_t modificationTime = 0;  // seconds since 1970 (UTC)
    uint32_t modificationNanoseconds = 0;
    bool hasBirthTime = false;
    int64_t birthTime = 0;
    uint32_t birthNanoseconds = 0;
    std::string linkText;          // a symbolic link's target, UTF-8
    std::u16string hardLinkTarget;  // a hard link's target, neutral like `name`
    bool encrypted = false;
    bool readable = true;  // false when libarchive could read the header only in part
};

enum class Step { Entry, End, Error };
enum class DataResult { Ok, Stopped, ReadFailed, BadData };

// Receives an entry's data, holes as zeros. Answers false to stop reading.
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual bool Write(const void* data, size_t size) = 0;
};

// Whether libarchive reads this filter in-process (its library is linked in).
bool FilterIsAvailable(const std::string& name);
// Checks that libarchive accepts the settings' charset and options; the reason when not.
bool CheckReaderSettings(const ModuleSettings& settings, std::string& problem);

class ArchiveReader {
public:
    // `source` and `settings` must outlive the reader. An empty passphrase is none.
    ArchiveReader(ByteSource& source, const ModuleSettings& settings, const std::string& passphrase);
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Starts the first pass: true when one of the formats recognises the content. Opening again
    // starts over with the volumes that the source has now, which must begin with the same
    // entries as before.
    bool Open();

    // Makes entry `index` the current one. With `forData`, its data must still be unread, which
    // may need a new pass. Error: the archive cannot be read up to that entry.
    Step MoveTo(size_t index, bool forData);
    const ArchiveEntry& Current() const { return entry_; }

    // Streams the current entry's data into `sink`; it is read once per pass.
    DataResult ReadData(DataSink& sink);

    // The listed file with this name that comes last before `before`, with its index.
    bool FindFile(const std::u16string& name, size_t before, size_t& index, uint64_t& size) const;

    // Whether libarchive knows of encrypted entries in the archive (after the first entry).
    bool HasEncryptedEntries() const;
    // Whether libarchive can decrypt this format's entries with a passphrase (ZIP only).
    bool CanDecrypt() const;
    // Whether the archive is a RAR archive, which may continue in more volumes (after the first
    // entry).
    bool IsRar() const;
    // Whether the archive is read as TAR (compressed or not).
    bool IsTar() const;
    // Whether the last failure came from reading the source rather than from its content.
    bool SourceFailed() const { return readFailed_; }
    std::string ErrorText() const;

private:
    bool StartPass();
    void EndPass();
    Step ReadNextListed();
    bool Describe(archive_entry* header, ArchiveEntry& entry) const;
    std::u16string DecodeName(archive_entry* header, const char* (*bytes)(archive_entry*),
                              const wchar_t* (*wide)(archive_entry*)) const;

    friend struct ReaderCallbacks;

    // One volume's stream in the current pass: libarchive's client data for that volume.
    struct Volume {
        ArchiveReader* reader;
        std::unique_ptr<ByteStream> stream;
    };

    ByteSource& source_;
    const ModuleSettings& settings_;
    std::string passphrase_;
    archive* archive_ = nullptr;
    std::vector<Volume> volumes_;
    std::vector<unsigned char> buffer_;
    bool readFailed_ = false;  // the source itself failed, not the archive's content
    std::string error_;

    size_t next_ = 0;        // index that the next header of this pass gets
    bool dataRead_ = false;  // the current entry's data was read in this pass
    bool ended_ = false;
    bool broken_ = false;    // libarchive gave up on this pass
    int64_t failedAt_ = -1;  // where the last header that libarchive could not read began
    ArchiveEntry entry_;

    // Every listed file, by name, with index and size: hard links take their data from them.
    size_t listed_ = 0;
    std::map<std::u16string, std::vector<std::pair<size_t, uint64_t>>> files_;
};

}  // namespace formats
