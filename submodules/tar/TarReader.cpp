#include "TarReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tar {

namespace {

// Offsets and widths of the header fields used here.
constexpr size_t kNameOffset = 0, kNameWidth = 100;
constexpr size_t kModeOffset = 100, kModeWidth = 8;
constexpr size_t kSizeOffset = 124, kSizeWidth = 12;
constexpr size_t kMtimeOffset = 136, kMtimeWidth = 12;
constexpr size_t kChecksumOffset = 148, kChecksumWidth = 8;
constexpr size_t kTypeOffset = 156;
constexpr size_t kLinkOffset = 157, kLinkWidth = 100;
constexpr size_t kMagicOffset = 257;
constexpr size_t kPrefixOffset = 345, kPrefixWidth = 155;

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

// A text field ends at its first NUL or fills the whole field.
std::string TextField(const unsigned char* block, size_t offset, size_t width) {
    const char* text = reinterpret_cast<const char*>(block + offset);
    size_t length = 0;
    while (length < width && text[length] != '\0') ++length;
    return std::string(text, length);
}

bool IsZeroBlock(const unsigned char* block) {
    for (size_t i = 0; i < kBlockSize; ++i)
        if (block[i] != 0) return false;
    return true;
}

bool IsPosixUstar(const unsigned char* block) {
    // "ustar\0" is POSIX; GNU writes "ustar  \0" and uses the prefix area for other fields.
    return std::memcmp(block + kMagicOffset, "ustar\0", 6) == 0;
}

uint64_t RoundUpToBlock(uint64_t size) { return (size + (kBlockSize - 1)) / kBlockSize * kBlockSize; }

bool ParseOctal(const unsigned char* field, size_t width, int64_t& value) {
    size_t i = 0;
    while (i < width && (field[i] == ' ' || field[i] == '\0')) {
        if (field[i] == '\0') {
            // A field of NULs and blanks only means zero.
            for (size_t j = i; j < width; ++j)
                if (field[j] != '\0' && field[j] != ' ') return false;
            value = 0;
            return true;
        }
        ++i;
    }
    uint64_t result = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
        if (result > (uint64_t(kInt64Max) >> 3)) return false;
        result = (result << 3) | uint64_t(field[i] - '0');
    }
    for (; i < width; ++i)
        if (field[i] != ' ' && field[i] != '\0') return false;
    value = int64_t(result);
    return true;
}

bool ParseBase256(const unsigned char* field, size_t width, int64_t& value) {
    // The top bit marks the encoding; the next one is the sign of the remaining two's complement.
    const unsigned char sign = (field[0] & 0x40) ? 0xFF : 0x00;
    const unsigned char first = static_cast<unsigned char>((field[0] & 0x7F) | (sign & 0x80));
    auto byteAt = [&](size_t i) { return i == 0 ? first : field[i]; };
    size_t start = 0;
    if (width > 8) {
        for (; start < width - 8; ++start)
            if (byteAt(start) != sign) return false;
    }
    // What is left must keep its sign in its own top bit to fit 64 bits.
    if ((byteAt(start) & 0x80) != (sign & 0x80)) return false;
    uint64_t bits = sign ? ~uint64_t(0) : 0;
    for (size_t i = start; i < width; ++i) bits = (bits << 8) | byteAt(i);
    value = int64_t(bits);
    return true;
}

bool ParseDecimal(const std::string& text, size_t& i, uint64_t& value, size_t& digits) {
    value = 0;
    digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        const uint64_t digit = uint64_t(text[i] - '0');
        if (value > (uint64_t(kInt64Max) - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ParsePaxSize(const std::string& text, uint64_t& size) {
    size_t i = 0, digits = 0;
    return ParseDecimal(text, i, size, digits) && digits > 0 && i == text.size();
}

// "[-]seconds[.fraction]", the fraction cut to nanoseconds.
bool ParsePaxTime(const std::string& text, int64_t& seconds, uint32_t& nanoseconds) {
    size_t i = 0, digits = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    uint64_t whole = 0;
    if (!ParseDecimal(text, i, whole, digits) || digits == 0) return false;
    uint32_t fraction = 0;
    bool fractionNonZero = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        size_t places = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++places) {
            if (places < 9) fraction = fraction * 10 + uint32_t(text[i] - '0');
            if (text[i] != '0') fractionNonZero = true;
        }
        for (; places < 9; ++places) fraction *= 10;
    }
    if (i != text.size()) return false;
    if (!negative) {
        seconds = int64_t(whole);
        nanoseconds = fraction;
    } else if (fractionNonZero && fraction > 0) {
        seconds = -int64_t(whole) - 1;
        nanoseconds = 1000000000u - fraction;
    } else {
        seconds = -int64_t(whole);
        nanoseconds = 0;
    }
    return true;
}

// A name or link text may not carry a NUL inside; what follows one is dropped.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace

const char* ProblemText(Problem problem) {
    switch (problem) {
    case Problem::None: return "no problem";
    case Problem::ReadFailed: return "the archive could not be read";
    case Problem::TruncatedHeader: return "the archive ends inside a header";
    case Problem::BadChecksum: return "a header has a wrong checksum";
    case Problem::BadNumber: return "a header holds a malformed number";
    case Problem::DataPastEnd: return "a member's data reaches past the end of the archive";
    case Problem::UnterminatedName: return "a long name has no terminator";
    case Problem::BadPaxRecord: return "an extended header holds a malformed record";
    case Problem::ExtendedHeaderTooLarge: return "an extended header is too large";
    }
    return "unknown problem";
}

bool IsHeaderBlock(const unsigned char* block) {
    int64_t stored = 0;
    if (!ParseOctal(block + kChecksumOffset, kChecksumWidth, stored)) return false;
    // Old writers summed signed chars, so either sum is accepted.
    // The checksum field counts as spaces. Two plain loops around it: this runs for every header.
    uint64_t unsignedSum = uint64_t(' ') * kChecksumWidth;
    int64_t signedSum = int64_t(' ') * kChecksumWidth;
    auto add = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            unsignedSum += block[i];
            signedSum += static_cast<signed char>(block[i]);
        }
    };
    add(0, kChecksumOffset);
    add(kChecksumOffset + kChecksumWidth, kBlockSize);
    // An all-zero checksum field would otherwise match an empty block's sum of spaces.
    if (stored == 0) return false;
    return uint64_t(stored) == unsignedSum || stored == signedSum;
}

bool ParseNumericField(const unsigned char* field, size_t width, int64_t& value) {
    if (width == 0) return false;
    if (field[0] & 0x80) return ParseBase256(field, width, value);
    return ParseOctal(field, width, value);
}

std::string NormalizeMemberName(const std::string& name) {
    std::string result;
    size_t i = 0;
    while (i < name.size()) {
        size_t end = name.find('/', i);
        if (end == std::string::npos) end = name.size();
        const std::string component = name.substr(i, end - i);
        if (!component.empty() && component != ".") {
            if (!result.empty()) result += '/';
            result += component;
        }
        i = end + 1;
    }
    return result;
}

Reader::Step Reader::Fail(Problem problem, uint64_t offset) {
    state_ = Step::Error;
    problem_ = problem;
    problemOffset_ = offset;
    return state_;
}

bool Reader::ReadExtendedData(uint64_t offset, uint64_t size, std::string& data, uint64_t headerOffset) {
    if (size > kMaxExtendedHeaderSize) {
        Fail(Problem::ExtendedHeaderTooLarge, headerOffset);
        return false;
    }
    data.assign(size_t(size), '\0');
    if (size > 0 && !input_.ReadAt(offset, &data[0], data.size())) {
        Fail(Problem::ReadFailed, offset);
        return false;
    }
    return true;
}

bool Reader::ParsePaxRecords(const std::string& data, uint64_t headerOffset) {
    size_t position = 0;
    while (position < data.size()) {
        // A record is "<length> <key>=<value>\n", its length counting every byte of it.
        size_t i = position, digits = 0;
        uint64_t length = 0;
        if (!ParseDecimal(data, i, length, digits) || digits == 0 || i >= data.size() || data[i] != ' ' ||
            length > data.size() - position || length < digits + 4) {
            // GNU tar pads the last block with NULs after the records.
            if (data[position] == '\0' && data.find_first_not_of('\0', position) == std::string::npos) return true;
            Fail(Problem::BadPaxRecord, headerOffset);
            return false;
        }
        const size_t recordEnd = position + size_t(length);
        if (data[recordEnd - 1] != '\n') {
            Fail(Problem::BadPaxRecord, headerOffset);
            return false;
        }
        const size_t keyStart = i + 1;
        const size_t equals = data.find('=', keyStart);
        if (equals == std::string::npos || equals >= recordEnd - 1 || equals == keyStart) {
            Fail(Problem::BadPaxRecord, headerOffset);
            return false;
        }
        const std::string key = data.substr(keyStart, equals - keyStart);
        const std::string value = data.substr(equals + 1, recordEnd - 1 - (equals + 1));
        if (key == "path") {
            pending_.hasPaxPath = true;
            pending_.paxPath = UpToNul(value);
        } else if (key == "linkpath") {
            pending_.hasPaxLink = true;
            pending_.paxLink = UpToNul(value);
        } else if (key == "size") {
            if (!ParsePaxSize(value, pending_.paxSize)) {
                Fail(Problem::BadPaxRecord, headerOffset);
                return false;
            }
            pending_.hasPaxSize = true;
        } else if (key == "mtime") {
            if (!ParsePaxTime(value, pending_.paxMtime, pending_.paxMtimeNanoseconds)) {
                Fail(Problem::BadPaxRecord, headerOffset);
                return false;
            }
            pending_.hasPaxMtime = true;
        } else if (key == "hdrcharset") {
            pending_.paxBinaryNames = value == "BINARY";
        } else if (key.compare(0, 11, "GNU.sparse.") == 0) {
            pending_.paxSparse = true;
        }
        position = recordEnd;
    }
    return true;
}

bool ReadAhead::ReadAt(uint64_t offset, void* buffer, size_t size) {
    const bool held = offset >= start_ && offset - start_ <= bytes_.size() && bytes_.size() - (offset - start_) >= size;
    if (!held) {
        const uint64_t total = input_.Size();
        if (size > window_ || offset > total || total - offset < size) return input_.ReadAt(offset, buffer, size);
        bytes_.resize(size_t(std::min<uint64_t>(window_, total - offset)));
        if (!input_.ReadAt(offset, bytes_.data(), bytes_.size())) {
            // The file may hold less than it said: the exact read decides.
            bytes_.clear();
            return input_.ReadAt(offset, buffer, size);
        }
        start_ = offset;
    }
    if (size > 0) std::memcpy(buffer, bytes_.data() + (offset - start_), size);
    return true;
}

Reader::Step Reader::Next(Entry& entry) {
    if (state_ != Step::Entry) return state_;
    const uint64_t archiveSize = input_.Size();
    unsigned char block[kBlockSize];
    for (;;) {
        const uint64_t headerOffset = position_;
        if (headerOffset == archiveSize) {
            // Archives without their closing zero blocks are common enough to accept.
            if (pending_.Any()) return Fail(Problem::TruncatedHeader, headerOffset);
            return state_ = Step::End;
        }
        if (headerOffset > archiveSize || archiveSize - headerOffset < kBlockSize)
            return Fail(Problem::TruncatedHeader, headerOffset);
        if (!input_.ReadAt(headerOffset, block, kBlockSize)) return Fail(Problem::ReadFailed, headerOffset);
        if (IsZeroBlock(block)) {
            if (pending_.Any()) return Fail(Problem::TruncatedHeader, headerOffset);
            return state_ = Step::End;
        }
        if (!IsHeaderBlock(block)) return Fail(Problem::BadChecksum, headerOffset);

        int64_t headerSize = 0, mtime = 0, mode = 0;
        if (!ParseNumericField(block + kSizeOffset, kSizeWidth, headerSize) || headerSize < 0 ||
            !ParseNumericField(block + kMtimeOffset, kMtimeWidth, mtime) ||
            !ParseNumericField(block + kModeOffset, kModeWidth, mode))
            return Fail(Problem::BadNumber, headerOffset);

        const char typeFlag = static_cast<char>(block[kTypeOffset]);
        const bool extended = typeFlag == 'L' || typeFlag == 'K' || typeFlag == 'x' || typeFlag == 'g';
        // A pax size replaces the header's, which cannot hold sizes of 8 GiB and more in octal.
        const uint64_t size = (!extended && pending_.hasPaxSize) ? pending_.paxSize : uint64_t(headerSize);
        const uint64_t dataOffset = headerOffset + kBlockSize;
        if (size > archiveSize - dataOffset) return Fail(Problem::DataPastEnd, headerOffset);
        position_ = dataOffset + RoundUpToBlock(size);

        std::string data;
        switch (typeFlag) {
        case 'L':
        case 'K': {
            if (!ReadExtendedData(dataOffset, size, data, headerOffset)) return state_;
            const size_t nul = data.find('\0');
            if (nul == std::string::npos) return Fail(Problem::UnterminatedName, headerOffset);
            (typeFlag == 'L' ? pending_.longName : pending_.longLink) = data.substr(0, nul);
            (typeFlag == 'L' ? pending_.hasLongName : pending_.hasLongLink) = true;
            continue;
        }
        case 'x':
            if (!ReadExtendedData(dataOffset, size, data, headerOffset)) return state_;
            if (!ParsePaxRecords(data, headerOffset)) return state_;
            continue;
        case 'g':  // global pax defaults: nothing here depends on them
        case 'V':  // a volume label names no file
            continue;
        default: break;
        }

        Entry result;
        result.typeFlag = typeFlag;
        result.headerOffset = headerOffset;
        result.dataOffset = dataOffset;
        result.size = size;
        result.mode = uint32_t(mode) & 07777;
        result.mtime = mtime;

        result.name = TextField(block, kNameOffset, kNameWidth);
        if (IsPosixUstar(block)) {
            const std::string prefix = TextField(block, kPrefixOffset, kPrefixWidth);
            if (!prefix.empty()) result.name = prefix + "/" + result.name;
        }
        result.linkName = TextField(block, kLinkOffset, kLinkWidth);
        if (pending_.hasLongName) result.name = pending_.longName;
        if (pending_.hasLongLink) result.linkName = pending_.longLink;
        if (pending_.hasPaxPath) result.name = pending_.paxPath;
        if (pending_.hasPaxLink) result.linkName = pending_.paxLink;
        result.namesAreUtf8 = (pending_.hasPaxPath || pending_.hasPaxLink) && !pending_.paxBinaryNames;
        if (pending_.hasPaxMtime) {
            result.mtime = pending_.paxMtime;
            result.mtimeNanoseconds = pending_.paxMtimeNanoseconds;
        }

        switch (typeFlag) {
        case '1': result.type = EntryType::HardLink; break;
        case '2': result.type = EntryType::SymbolicLink; break;
        case '3':
        case '4':
        case '6': result.type = EntryType::Special; break;
        case '5':
        case 'D': result.type = EntryType::Directory; break;
        case 'S':
        case 'M': result.type = EntryType::Unsupported; break;
        default:
            // Before ustar a directory was a file whose name ends in '/'.
            result.type = (!result.name.empty() && result.name.back() == '/') ? EntryType::Directory : EntryType::File;
            break;
        }
        if (pending_.paxSparse) result.type = EntryType::Unsupported;

        pending_ = Pending();
        entry = std::move(result);
        return Step::Entry;
    }
}

}  // namespace tar
