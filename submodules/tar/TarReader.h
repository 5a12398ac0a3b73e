// Reads the members of an uncompressed TAR archive: POSIX ustar, GNU (long names 'L', long link
// names 'K', base-256 numbers) and POSIX pax (extended headers 'x'; global headers 'g' skipped).
// Portable: the archive is reached only through the Input interface, so it also runs on memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tar {

constexpr size_t kBlockSize = 512;

// Largest 'L', 'K' or 'x' header accepted; names are far shorter, so more means a damaged archive.
constexpr uint64_t kMaxExtendedHeaderSize = 1u << 20;

// Random access to the archive's bytes.
class Input {
public:
    virtual ~Input() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly `size` bytes at `offset`; false when they cannot be read.
    virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
};

// Serves the small reads of a pass over the headers from one larger read of what follows: the
// members of small files lie a few blocks apart, and a system call for each header would cost
// more than the rest of the listing.
class ReadAhead : public Input {
public:
    explicit ReadAhead(Input& input, size_t window = 64 * 1024) : input_(input), window_(window) {}
    uint64_t Size() const override { return input_.Size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override;

private:
    Input& input_;
    size_t window_;
    std::vector<unsigned char> bytes_;  // the archive's bytes from start_ on
    uint64_t start_ = 0;
};

enum class EntryType {
    File,          // '0', NUL, '7', and every type letter this reader does not know
    Directory,     // '5', GNU 'D', or an old-style file name ending in '/'
    SymbolicLink,  // '2'
    HardLink,      // '1': the data is that of the earlier member named in linkName
    Special,       // '3', '4', '6': devices and FIFOs
    Unsupported,   // GNU sparse 'S', multi-volume continuation 'M', pax sparse files
};

struct Entry {
    std::string name;      // as stored, '/'-separated: prefix, long name and pax path applied
    std::string linkName;  // target of a link
    bool namesAreUtf8 = false;  // the names came from pax records, which are UTF-8
    EntryType type = EntryType::File;
    char typeFlag = '0';
    uint32_t mode = 0;
    uint64_t size = 0;        // bytes of data stored after the header
    uint64_t headerOffset = 0;
    uint64_t dataOffset = 0;
    int64_t mtime = 0;        // seconds since 1970-01-01 UTC
    uint32_t mtimeNanoseconds = 0;
};

enum class Problem {
    None,
    ReadFailed,           // the input refused to deliver bytes it claims to have
    TruncatedHeader,      // the archive ends inside a header or right after an extended header
    BadChecksum,
    BadNumber,            // a numeric field holds neither octal digits nor a valid base-256 value
    DataPastEnd,          // a member's data reaches beyond the end of the archive
    UnterminatedName,     // a GNU long name without its terminating NUL
    BadPaxRecord,         // a pax record whose length, layout or value is wrong
    ExtendedHeaderTooLarge,
};

const char* ProblemText(Problem problem);

// True when the block is a header with a correct checksum: how archives are recognised.
bool IsHeaderBlock(const unsigned char* block);

// Parses a numeric header field: octal digits (leading blanks, ending in NUL or blank) or GNU
// base-256 (first byte with the top bit set, big-endian two's complement). False when malformed
// or outside the 64-bit signed range.
bool ParseNumericField(const unsigned char* field, size_t width, int64_t& value);

// The name a member is shown under: leading "/" and "./" removed, "." components dropped,
// trailing "/" removed. Empty for the archive's root ("./").
std::string NormalizeMemberName(const std::string& name);

class Reader {
public:
    enum class Step { Entry, End, Error };

    explicit Reader(Input& input) : input_(input) {}

    // Reads the next member. After End or Error every further call answers the same.
    Step Next(Entry& entry);

    Problem LastProblem() const { return problem_; }
    uint64_t ProblemOffset() const { return problemOffset_; }

private:
    struct Pending {
        bool hasLongName = false, hasLongLink = false;
        std::string longName, longLink;
        bool hasPaxPath = false, hasPaxLink = false, hasPaxSize = false, hasPaxMtime = false;
        std::string paxPath, paxLink;
        uint64_t paxSize = 0;
        int64_t paxMtime = 0;
        uint32_t paxMtimeNanoseconds = 0;
        bool paxBinaryNames = false, paxSparse = false;
        bool Any() const { return hasLongName || hasLongLink || hasPaxPath || hasPaxLink || hasPaxSize || hasPaxMtime || paxSparse; }
    };

    Step Fail(Problem problem, uint64_t offset);
    bool ReadExtendedData(uint64_t offset, uint64_t size, std::string& data, uint64_t headerOffset);
    bool ParsePaxRecords(const std::string& data, uint64_t headerOffset);

    Input& input_;
    uint64_t position_ = 0;
    Step state_ = Step::Entry;
    Problem problem_ = Problem::None;
    uint64_t problemOffset_ = 0;
    Pending pending_;
};

}  // namespace tar
