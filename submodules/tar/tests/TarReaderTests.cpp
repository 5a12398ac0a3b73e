// TarReader on archives built in memory: the three formats, the number encodings, the member
// types, and a table of damaged archives that must end in an error, never in a bad read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "TarReader.h"

namespace {

using Bytes = std::vector<unsigned char>;
using tar::Entry;
using tar::EntryType;
using tar::Problem;
using Step = tar::Reader::Step;

// The archive's bytes; reads outside them fail the test instead of reading past the buffer.
class MemoryInput : public tar::Input {
public:
    explicit MemoryInput(Bytes bytes, uint64_t declaredSize = UINT64_MAX)
        : bytes_(std::move(bytes)), size_(declaredSize == UINT64_MAX ? bytes_.size() : declaredSize) {}
    uint64_t Size() const override { return size_; }
    // Beyond the stored bytes (up to the declared size) the archive reads as zeros.
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
        if (offset > size_ || size > size_ - offset) {
            ADD_FAILURE() << "read of " << size << " bytes at " << offset << " past the end " << size_;
            return false;
        }
        auto* out = static_cast<unsigned char*>(buffer);
        for (size_t i = 0; i < size; ++i) out[i] = offset + i < bytes_.size() ? bytes_[size_t(offset + i)] : 0;
        return true;
    }

private:
    Bytes bytes_;
    uint64_t size_;
};

enum class Magic { Posix, Gnu, None };

// One 512-byte header, its checksum written last.
class Header {
public:
    explicit Header(const std::string& name, char type = '0', Magic magic = Magic::Posix) {
        Text(0, 100, name);
        Octal(100, 8, 0644);
        Octal(108, 8, 1000);
        Octal(116, 8, 1000);
        Octal(124, 12, 0);
        Octal(136, 12, 1700000000);
        block_[156] = static_cast<unsigned char>(type);
        if (magic == Magic::Posix) std::memcpy(block_ + 257, "ustar\0" "00", 8);
        if (magic == Magic::Gnu) std::memcpy(block_ + 257, "ustar  \0", 8);
    }
    Header& Size(uint64_t size) { return Octal(124, 12, size); }
    Header& Mtime(uint64_t seconds) { return Octal(136, 12, seconds); }
    Header& Mode(uint64_t mode) { return Octal(100, 8, mode); }
    Header& Link(const std::string& name) { return Text(157, 100, name); }
    Header& Prefix(const std::string& prefix) { return Text(345, 155, prefix); }
    Header& Raw(size_t offset, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), block_ + offset);
        return *this;
    }
    Header& Text(size_t offset, size_t width, const std::string& text) {
        std::memset(block_ + offset, 0, width);
        std::memcpy(block_ + offset, text.data(), std::min(width, text.size()));
        return *this;
    }
    Header& Octal(size_t offset, size_t width, uint64_t value) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*llo", int(width - 1), static_cast<unsigned long long>(value));
        std::memset(block_ + offset, 0, width);
        std::memcpy(block_ + offset, digits, width - 1);
        return *this;
    }
    // Without it the checksum is written as computed.
    Header& KeepChecksum() {
        keepChecksum_ = true;
        return *this;
    }
    Bytes Finish() const {
        unsigned char block[512];
        std::memcpy(block, block_, 512);
        if (!keepChecksum_) {
            std::memset(block + 148, ' ', 8);
            unsigned sum = 0;
            for (unsigned char byte : block) sum += byte;
            char digits[8];
            std::snprintf(digits, sizeof digits, "%06o", sum);
            std::memcpy(block + 148, digits, 6);
            block[154] = 0;
            block[155] = ' ';
        }
        return Bytes(block, block + 512);
    }

private:
    unsigned char block_[512] = {};
    bool keepChecksum_ = false;
};

class Archive {
public:
    Archive& Add(const Header& header, const std::string& data = std::string()) {
        const Bytes block = header.Finish();
        bytes_.insert(bytes_.end(), block.begin(), block.end());
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        bytes_.resize((bytes_.size() + 511) / 512 * 512, 0);
        return *this;
    }
    Archive& File(const std::string& name, const std::string& data) {
        return Add(Header(name).Size(data.size()), data);
    }
    Archive& Pax(const std::string& records, char type = 'x') {
        return Add(Header("PaxHeaders/x", type).Size(records.size()), records);
    }
    Archive& LongName(char type, const std::string& data) {
        return Add(Header("././@LongLink", type, Magic::Gnu).Size(data.size()), data);
    }
    Archive& End() {
        bytes_.resize(bytes_.size() + 1024, 0);
        return *this;
    }
    Bytes bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

// "<length> key=value\n" with the length counting itself.
std::string PaxRecord(const std::string& key, const std::string& value) {
    const std::string body = " " + key + "=" + value + "\n";
    size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length) ++length;
    return std::to_string(length) + body;
}

std::vector<Entry> ReadAll(const Bytes& bytes, Step& last, Problem& problem) {
    MemoryInput input(bytes);
    tar::Reader reader(input);
    std::vector<Entry> entries;
    Entry entry;
    while ((last = reader.Next(entry)) == Step::Entry) entries.push_back(entry);
    problem = reader.LastProblem();
    return entries;
}

std::vector<Entry> ReadAllOk(const Bytes& bytes) {
    Step last;
    Problem problem;
    std::vector<Entry> entries = ReadAll(bytes, last, problem);
    EXPECT_EQ(last, Step::End) << tar::ProblemText(problem);
    return entries;
}

// ---- Formats ----------------------------------------------------------------------------------

TEST(TarReader, ReadsUstarMembers) {
    const Bytes bytes = Archive().File("hello.txt", "Hello, world\n").Add(Header("dir/", '5')).End().bytes();
    const auto entries = ReadAllOk(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "hello.txt");
    EXPECT_EQ(entries[0].type, EntryType::File);
    EXPECT_EQ(entries[0].size, 13u);
    EXPECT_EQ(entries[0].mode, 0644u);
    EXPECT_EQ(entries[0].mtime, 1700000000);
    EXPECT_EQ(entries[0].headerOffset, 0u);
    EXPECT_EQ(entries[0].dataOffset, 512u);
    EXPECT_FALSE(entries[0].namesAreUtf8);
    EXPECT_EQ(entries[1].name, "dir/");
    EXPECT_EQ(entries[1].type, EntryType::Directory);
    EXPECT_EQ(entries[1].headerOffset, 1024u);
}

TEST(TarReader, JoinsTheUstarPrefix) {
    const auto entries = ReadAllOk(Archive().Add(Header("file.c").Prefix("very/deep/path")).End().bytes());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "very/deep/path/file.c");
}

TEST(TarReader, IgnoresThePrefixAreaOfGnuHeaders) {
    // GNU keeps access and change times where ustar has its prefix.
    const auto entries = ReadAllOk(Archive().Add(Header("file.c", '0', Magic::Gnu).Prefix("14530134317")).End().bytes());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "file.c");
}

TEST(TarReader, AcceptsANameThatFillsItsWholeField) {
    const std::string name(100, 'n');
    const auto entries = ReadAllOk(Archive().Add(Header(name).Link(std::string(100, 'l'))).End().bytes());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);
    EXPECT_EQ(entries[0].linkName, std::string(100, 'l'));
}

TEST(TarReader, AppliesGnuLongNamesToTheNextMemberOnly) {
    const std::string longName = std::string(150, 'a') + "/file.txt";
    const std::string longLink = std::string(120, 'b') + "/target";
    const Bytes bytes = Archive()
                            .LongName('L', longName + '\0')
                            .LongName('K', longLink + '\0')
                            .Add(Header("short", '2', Magic::Gnu).Link("short-link"))
                            .File("next.txt", "x")
                            .End()
                            .bytes();
    const auto entries = ReadAllOk(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, longName);
    EXPECT_EQ(entries[0].linkName, longLink);
    EXPECT_EQ(entries[0].type, EntryType::SymbolicLink);
    EXPECT_EQ(entries[1].name, "next.txt");
    EXPECT_EQ(entries[1].linkName, "");
}

TEST(TarReader, AppliesPaxPathSizeMtimeAndLinkpath) {
    const std::string data(700, 'd');
    const std::string records = PaxRecord("path", "d\xC3\xA9j\xC3\xA0/" + std::string(120, 'p')) +
                                PaxRecord("size", "700") + PaxRecord("mtime", "1700000123.25") +
                                PaxRecord("linkpath", "somewhere") + PaxRecord("uname", "someone");
    const Bytes bytes = Archive().Pax(records).Add(Header("short").Size(0), data).File("plain", "").End().bytes();
    const auto entries = ReadAllOk(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "d\xC3\xA9j\xC3\xA0/" + std::string(120, 'p'));
    EXPECT_EQ(entries[0].size, 700u);
    EXPECT_EQ(entries[0].mtime, 1700000123);
    EXPECT_EQ(entries[0].mtimeNanoseconds, 250000000u);
    EXPECT_EQ(entries[0].linkName, "somewhere");
    EXPECT_TRUE(entries[0].namesAreUtf8);
    EXPECT_EQ(entries[1].name, "plain");
    EXPECT_FALSE(entries[1].namesAreUtf8);
    EXPECT_EQ(entries[1].dataOffset, 512u * 3 + 1024u + 512u);
}

TEST(TarReader, ReadsNegativeFractionalPaxTimes) {
    const Bytes bytes = Archive().Pax(PaxRecord("mtime", "-1.25")).File("old", "").End().bytes();
    const auto entries = ReadAllOk(bytes);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].mtime, -2);
    EXPECT_EQ(entries[0].mtimeNanoseconds, 750000000u);
}

TEST(TarReader, PaxBinaryHeaderCharsetKeepsNamesAsBytes) {
    const Bytes bytes =
        Archive().Pax(PaxRecord("hdrcharset", "BINARY") + PaxRecord("path", "caf\xE9")).File("x", "").End().bytes();
    const auto entries = ReadAllOk(bytes);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "caf\xE9");
    EXPECT_FALSE(entries[0].namesAreUtf8);
}

TEST(TarReader, SkipsGlobalHeadersAndVolumeLabels) {
    const Bytes bytes = Archive()
                            .Pax(PaxRecord("comment", "made by a test"), 'g')
                            .Add(Header("Volume 1", 'V', Magic::Gnu))
                            .File("a", "1")
                            .End()
                            .bytes();
    const auto entries = ReadAllOk(bytes);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a");
}

TEST(TarReader, ReadsABase256SizeOverEightGiB) {
    const uint64_t size = 9ull << 30;
    Header header("huge.bin", '0', Magic::Gnu);
    Bytes field(12, 0);
    field[0] = 0x80;
    for (int i = 0; i < 8; ++i) field[11 - i] = static_cast<unsigned char>(size >> (8 * i));
    header.Raw(124, field);
    const Bytes bytes = Archive().Add(header).bytes();
    // The data and the closing blocks exist only as the declared size: they read as zeros.
    MemoryInput input(bytes, 512 + size + 1024);
    tar::Reader reader(input);
    Entry entry;
    ASSERT_EQ(reader.Next(entry), Step::Entry);
    EXPECT_EQ(entry.size, size);
    EXPECT_EQ(reader.Next(entry), Step::End);
}

TEST(TarReader, PaxSizeOverridesTheHeaderForSkipping) {
    const uint64_t size = 10ull << 30;
    const Bytes bytes = Archive().Pax(PaxRecord("size", std::to_string(size))).Add(Header("big")).bytes();
    MemoryInput input(bytes, bytes.size() + size + 512 + 512);
    tar::Reader reader(input);
    Entry entry;
    ASSERT_EQ(reader.Next(entry), Step::Entry);
    EXPECT_EQ(entry.size, size);
    EXPECT_EQ(reader.Next(entry), Step::End);
}

// ---- Types and names --------------------------------------------------------------------------

TEST(TarReader, TellsTheMemberTypes) {
    const Bytes bytes = Archive()
                            .Add(Header("file", '0'))
                            .Add(Header("nul-type", '\0'))
                            .Add(Header("contiguous", '7'))
                            .Add(Header("hard", '1').Link("file"))
                            .Add(Header("soft", '2').Link("file"))
                            .Add(Header("char", '3'))
                            .Add(Header("block", '4'))
                            .Add(Header("dir", '5'))
                            .Add(Header("fifo", '6'))
                            .Add(Header("dumpdir", 'D', Magic::Gnu))
                            .Add(Header("sparse", 'S', Magic::Gnu))
                            .Add(Header("continued", 'M', Magic::Gnu))
                            .Add(Header("old-dir/", '0', Magic::None))
                            .Add(Header("vendor", 'Z'))
                            .Pax(PaxRecord("GNU.sparse.major", "1"))
                            .Add(Header("pax-sparse"))
                            .End()
                            .bytes();
    const auto entries = ReadAllOk(bytes);
    const std::vector<EntryType> expected = {
        EntryType::File,      EntryType::File,        EntryType::File,        EntryType::HardLink,
        EntryType::SymbolicLink, EntryType::Special,  EntryType::Special,     EntryType::Directory,
        EntryType::Special,   EntryType::Directory,   EntryType::Unsupported, EntryType::Unsupported,
        EntryType::Directory, EntryType::File,        EntryType::Unsupported,
    };
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(entries[i].type, expected[i]) << entries[i].name;
    EXPECT_EQ(entries[3].linkName, "file");
}

TEST(TarReader, NormalizesMemberNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.txt", "a.txt"},         {"./a.txt", "a.txt"},     {"/etc/passwd", "etc/passwd"},
        {"dir/", "dir"},            {"./", ""},               {".", ""},
        {"a//b/./c/", "a/b/c"},     {"../x", "../x"},         {"", ""},
        {"./.hidden", ".hidden"},
    };
    for (const auto& c : cases) EXPECT_EQ(tar::NormalizeMemberName(c.first), c.second) << c.first;
}

// ---- Numbers and checksums --------------------------------------------------------------------

TEST(TarReader, ParsesNumericFields) {
    struct Case {
        Bytes field;
        bool ok;
        int64_t value;
    };
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    const Case cases[] = {
        {text(std::string("0000644\0", 8)), true, 0644},
        {text(std::string("     17 ", 8)), true, 017},
        {text(std::string("77777777777\0", 12)), true, 077777777777},
        {text(std::string("777777777777", 12)), true, 0777777777777},
        {text(std::string("\0\0\0\0\0\0\0\0", 8)), true, 0},
        {text(std::string("        ", 8)), true, 0},
        {text(std::string("0012x4\0\0", 8)), false, 0},
        {text(std::string("0012 4\0\0", 8)), false, 0},
        {text(std::string("0089\0\0\0\0", 8)), false, 0},
        {{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x00}, true, 0x1000},
        {{0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, true, INT64_MAX},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, true, -2},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, true, INT64_MIN},
        {{0x80, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}, false, 0},  // 2^63 does not fit
        {{0x80, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0},     // nor does 2^64
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, 0},
        {{0x80, 0, 0, 0, 0, 0, 0x01, 0x00}, true, 0x100},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        int64_t value = -12345;
        const bool ok = tar::ParseNumericField(cases[i].field.data(), cases[i].field.size(), value);
        EXPECT_EQ(ok, cases[i].ok) << "case " << i;
        if (ok && cases[i].ok) {
            EXPECT_EQ(value, cases[i].value) << "case " << i;
        }
    }
}

TEST(TarReader, AcceptsASignedChecksumAndRejectsZeroBlocks) {
    Bytes block = Header("caf\xE9").Finish();
    EXPECT_TRUE(tar::IsHeaderBlock(block.data()));
    // Write the sum as a writer summing signed chars would have.
    std::memset(block.data() + 148, ' ', 8);
    long sum = 0;
    for (unsigned char byte : block) sum += static_cast<signed char>(byte);
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06lo", static_cast<unsigned long>(sum));
    std::memcpy(block.data() + 148, digits, 6);
    block[154] = 0;
    EXPECT_TRUE(tar::IsHeaderBlock(block.data()));
    const Bytes zeros(512, 0);
    EXPECT_FALSE(tar::IsHeaderBlock(zeros.data()));
    Bytes spaces(512, 0);
    std::memset(spaces.data() + 148, ' ', 8);
    EXPECT_FALSE(tar::IsHeaderBlock(spaces.data()));
}

// ---- Ends of archives -------------------------------------------------------------------------

TEST(TarReader, EndsAtZeroBlocksOrAtACleanEndOfFile) {
    EXPECT_EQ(ReadAllOk(Archive().File("a", "1").End().bytes()).size(), 1u);
    EXPECT_EQ(ReadAllOk(Archive().File("a", "1").bytes()).size(), 1u);
    Bytes lone = Archive().File("a", "1").bytes();
    lone.resize(lone.size() + 512, 0);
    EXPECT_EQ(ReadAllOk(lone).size(), 1u);
    EXPECT_EQ(ReadAllOk(Bytes()).size(), 0u);
}

TEST(TarReader, KeepsAnsweringAfterTheEndAndAfterAnError) {
    MemoryInput good(Archive().File("a", "1").End().bytes());
    tar::Reader reader(good);
    Entry entry;
    ASSERT_EQ(reader.Next(entry), Step::Entry);
    EXPECT_EQ(reader.Next(entry), Step::End);
    EXPECT_EQ(reader.Next(entry), Step::End);

    Bytes damaged = Archive().File("a", "1").File("b", "2").End().bytes();
    damaged[1024] ^= 0x01;
    MemoryInput bad(damaged);
    tar::Reader failing(bad);
    ASSERT_EQ(failing.Next(entry), Step::Entry);
    EXPECT_EQ(entry.name, "a");
    EXPECT_EQ(failing.Next(entry), Step::Error);
    EXPECT_EQ(failing.LastProblem(), Problem::BadChecksum);
    EXPECT_EQ(failing.ProblemOffset(), 1024u);
    EXPECT_EQ(failing.Next(entry), Step::Error);
}

// ---- Damaged archives -------------------------------------------------------------------------

struct Damage {
    const char* what;
    Bytes bytes;
    Problem problem;
    size_t goodEntries;  // members listed before the error
};

Bytes Truncated(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes WithSizeField(const Bytes& field) {
    return Archive().Add(Header("big", '0', Magic::Gnu).Raw(124, field)).End().bytes();
}

Bytes WithPaxRecords(const std::string& records) { return Archive().Pax(records).File("a", "1").End().bytes(); }

std::vector<Damage> DamagedArchives() {
    const Bytes good = Archive().File("first", "data of the first").File("second", std::string(600, 's')).End().bytes();
    Bytes badChecksum = good;
    badChecksum[5] ^= 0x20;
    Bytes badSecondChecksum = good;
    badSecondChecksum[1024 + 148] = '9';
    std::vector<Damage> table = {
        {"header cut short", Truncated(good, 300), Problem::TruncatedHeader, 0},
        {"second header cut short", Truncated(good, 1024 + 100), Problem::TruncatedHeader, 1},
        {"padding of the last member missing", Truncated(good, 1024 + 512 + 600), Problem::TruncatedHeader, 2},
        {"bad checksum", badChecksum, Problem::BadChecksum, 0},
        {"checksum not octal", badSecondChecksum, Problem::BadChecksum, 1},
        {"size past the end", Archive().Add(Header("a").Size(4096), "short").bytes(), Problem::DataPastEnd, 0},
        {"data cut short", Truncated(good, 1024 + 512 + 100), Problem::DataPastEnd, 1},
        {"long name without terminator", Archive().LongName('L', "no-terminator").File("a", "").End().bytes(),
         Problem::UnterminatedName, 0},
        {"long link without terminator", Archive().LongName('K', std::string(512, 'k')).File("a", "").End().bytes(),
         Problem::UnterminatedName, 0},
        {"long name and then the end", Archive().LongName('L', std::string("name\0", 5)).End().bytes(), Problem::TruncatedHeader, 0},
        {"pax header and then end of file", Archive().Pax(PaxRecord("path", "x")).bytes(), Problem::TruncatedHeader, 0},
        {"octal size with a letter", WithSizeField(Bytes{'0', '0', '1', '2', 'x', '4', 0, 0, 0, 0, 0, 0}),
         Problem::BadNumber, 0},
        {"base-256 size over 63 bits", WithSizeField(Bytes{0x80, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}),
         Problem::BadNumber, 0},
        {"base-256 size with stray high bytes", WithSizeField(Bytes{0x80, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}),
         Problem::BadNumber, 0},
        {"negative base-256 size",
         WithSizeField(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x00}),
         Problem::BadNumber, 0},
        {"pax length beyond the header", WithPaxRecords("99 path=a\n"), Problem::BadPaxRecord, 0},
        {"pax length too small", WithPaxRecords("3 path=abc\n"), Problem::BadPaxRecord, 0},
        {"pax length zero", WithPaxRecords("0 path=abc\n"), Problem::BadPaxRecord, 0},
        {"pax length not a number", WithPaxRecords("x path=abc\n"), Problem::BadPaxRecord, 0},
        {"pax length without blank", WithPaxRecords("11path=abc\n"), Problem::BadPaxRecord, 0},
        {"pax length one short", WithPaxRecords("10 path=abc\n"), Problem::BadPaxRecord, 0},
        {"pax record without newline", WithPaxRecords("11 path=abcd"), Problem::BadPaxRecord, 0},
        {"pax record without equals sign", WithPaxRecords("11 pathabc\n"), Problem::BadPaxRecord, 0},
        {"pax size not a number", WithPaxRecords(PaxRecord("size", "12a")), Problem::BadPaxRecord, 0},
        {"pax size negative", WithPaxRecords(PaxRecord("size", "-5")), Problem::BadPaxRecord, 0},
        {"pax size too large", WithPaxRecords(PaxRecord("size", "99999999999999999999")), Problem::BadPaxRecord, 0},
        {"pax mtime not a number", WithPaxRecords(PaxRecord("mtime", "soon")), Problem::BadPaxRecord, 0},
        {"pax mtime with text after it", WithPaxRecords(PaxRecord("mtime", "1700000000.5s")), Problem::BadPaxRecord, 0},
        {"pax record after a NUL", WithPaxRecords(std::string(1, '\0') + PaxRecord("path", "abc")),
         Problem::BadPaxRecord, 0},
        {"pax size past the end", WithPaxRecords(PaxRecord("size", "100000")), Problem::DataPastEnd, 0},
    };
    return table;
}

TEST(TarReader, DamagedArchivesEndInTheirProblem) {
    for (const Damage& damage : DamagedArchives()) {
        Step last;
        Problem problem;
        const auto entries = ReadAll(damage.bytes, last, problem);
        EXPECT_EQ(last, Step::Error) << damage.what;
        EXPECT_EQ(problem, damage.problem) << damage.what << ": " << tar::ProblemText(problem);
        EXPECT_EQ(entries.size(), damage.goodEntries) << damage.what;
    }
}

TEST(TarReader, RefusesHugeExtendedHeaders) {
    const Bytes bytes = Archive().Add(Header("././@LongLink", 'L', Magic::Gnu).Size(2u << 20)).bytes();
    MemoryInput input(bytes, bytes.size() + (2u << 20) + 1024);
    tar::Reader reader(input);
    Entry entry;
    EXPECT_EQ(reader.Next(entry), Step::Error);
    EXPECT_EQ(reader.LastProblem(), Problem::ExtendedHeaderTooLarge);
}

// Every prefix of a valid archive: the members that are whole in it are read, and the listing ends
// cleanly exactly where a member (or the closing zero block) ends; anywhere else it is an error.
TEST(TarReader, EveryTruncationIsHandled) {
    // Blocks: 0 pax header, 1 its records, 2 "ignored", 3 its 3 bytes of data, 4 'L' header, 5 the
    // long name, 6 "x", 7-8 its 1000 bytes of data, 9-10 the closing zero blocks.
    const std::string longName(200, 'L');
    const Bytes full = Archive()
                           .Pax(PaxRecord("path", "pax/name") + PaxRecord("mtime", "1.5"))
                           .File("ignored", "abc")
                           .LongName('L', longName + '\0')
                           .File("x", std::string(1000, 'x'))
                           .End()
                           .bytes();
    ASSERT_EQ(full.size(), 11u * 512);
    for (size_t size = 0; size <= full.size(); ++size) {
        const size_t whole = (size >= 3 * 512 + 3 ? 1 : 0) + (size >= 7 * 512 + 1000 ? 1 : 0);
        const bool clean = size == 0 || size == 4 * 512 || size == 9 * 512 || size >= 10 * 512;
        Step last;
        Problem problem;
        const auto entries = ReadAll(Truncated(full, size), last, problem);
        ASSERT_EQ(entries.size(), whole) << size;
        if (whole > 0) {
            EXPECT_EQ(entries[0].name, "pax/name") << size;
        }
        if (whole > 1) {
            EXPECT_EQ(entries[1].name, longName) << size;
        }
        EXPECT_EQ(last, clean ? Step::End : Step::Error) << size;
        EXPECT_EQ(problem == Problem::None, clean) << size << ": " << tar::ProblemText(problem);
    }
}

// A pending pax size belongs to the member it describes, not to an extended header between them.
TEST(TarReader, PaxSizeSkipsTheExtendedHeadersBeforeItsMember) {
    const std::string longName = std::string(150, 'n') + "/file.bin";
    const std::string data(1500, 'd');
    struct Case {
        const char* what;
        Archive between;
        std::string name;
        std::string linkName;
    };
    const std::vector<Case> cases = {
        {"a GNU long name", Archive().LongName('L', longName + '\0'), longName, ""},
        {"a GNU long link name", Archive().LongName('K', "far/away" + std::string(1, '\0')), "short", "far/away"},
        {"a second pax header", Archive().Pax(PaxRecord("path", "from/pax")), "from/pax", ""},
        {"a global pax header", Archive().Pax(PaxRecord("comment", std::string(600, 'c')), 'g'), "short", ""},
    };
    for (const Case& c : cases) {
        Bytes bytes = Archive().Pax(PaxRecord("size", std::to_string(data.size()))).bytes();
        const Bytes between = c.between.bytes();
        bytes.insert(bytes.end(), between.begin(), between.end());
        const Bytes rest = Archive().Add(Header("short").Size(0), data).File("after", "x").End().bytes();
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        const auto entries = ReadAllOk(bytes);
        ASSERT_EQ(entries.size(), 2u) << c.what;
        EXPECT_EQ(entries[0].name, c.name) << c.what;
        EXPECT_EQ(entries[0].linkName, c.linkName) << c.what;
        EXPECT_EQ(entries[0].size, data.size()) << c.what;
        EXPECT_EQ(entries[1].name, "after") << c.what;
        EXPECT_EQ(entries[1].size, 1u) << c.what;
    }
}

}  // namespace

// Reads through a window: each answer must be the archive's bytes, whether the window holds
// them, has to move, or cannot be filled (the file holds less than it says); and small reads
// that follow each other cost one read of the file per window.
TEST(ReadAhead, AnswersAsTheFileWouldWithFewerReads) {
    Bytes bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 256);
    class Counting : public tar::Input {
    public:
        Counting(const Bytes& bytes, uint64_t declared) : bytes_(bytes), declared_(declared) {}
        uint64_t Size() const override { return declared_; }
        bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
            ++reads;
            if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
            if (size) std::memcpy(buffer, bytes_.data() + offset, size);
            return true;
        }
        int reads = 0;

    private:
        const Bytes& bytes_;
        uint64_t declared_;
    };
    struct Read {
        uint64_t offset;
        size_t size;
        bool ok;
    };
    struct Case {
        uint64_t declared;  // what Size() says
        std::vector<Read> reads;
        int fileReads;
    };
    const std::vector<Case> cases = {
        {5000, {{0, 512, true}, {512, 512, true}, {1500, 500, true}, {1024, 976, true}}, 1},  // all in one window
        {5000, {{0, 512, true}, {1800, 512, true}, {2048, 100, true}}, 2},                   // past the window
        {5000, {{1000, 512, true}, {0, 512, true}, {1000, 512, true}}, 2},                   // backwards
        {5000, {{4800, 200, true}, {4900, 100, true}, {4990, 20, false}}, 2},                // to the end, then past it
        {5000, {{0, 3000, true}, {100, 100, true}}, 2},                                      // larger than the window
        {6000, {{4000, 512, true}, {4500, 512, false}, {4600, 400, true}}, 6},               // the file is short
        {5000, {{0, 0, true}, {5000, 0, true}}, 1},
    };
    for (size_t n = 0; n < cases.size(); ++n) {
        Counting file(bytes, cases[n].declared);
        tar::ReadAhead window(file, 2048);
        for (const Read& read : cases[n].reads) {
            Bytes got(read.size, 0xEE);
            ASSERT_EQ(window.ReadAt(read.offset, got.data(), read.size), read.ok) << n << " at " << read.offset;
            if (read.ok) {
                EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + long(read.offset))) << n << " at " << read.offset;
            }
        }
        EXPECT_EQ(file.reads, cases[n].fileReads) << n;
        EXPECT_EQ(window.Size(), cases[n].declared);
    }
}
