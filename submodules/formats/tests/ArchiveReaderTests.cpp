// ArchiveReader over archives that tests/formats/make_samples.sh made with real tools: how many
// passes Morvane's way of asking costs, and what data comes out.
#include <gtest/gtest.h>

#include <filesystem>

#include "ArchiveReader.h"
#include "EntryNames.h"
#include "SystemAccess.h"
#include "text/Utf8.h"

using namespace formats;
namespace fs = std::filesystem;

namespace {

fs::path Sample(const std::string& relative) { return fs::u8path(FORMATS_SAMPLES) / fs::u8path(relative); }

// The archive file, counting how often a pass starts over.
class CountingSource : public ByteSource {
public:
    explicit CountingSource(const fs::path& path) : file_(ArchiveFile::Open(text::FromUtf8(path.u8string()))) {}
    size_t Volumes() const override { return file_ ? file_->Volumes() : 1; }
    std::unique_ptr<ByteStream> OpenStream(size_t volume) override {
        if (volume == 0) ++opens;
        return file_ ? file_->OpenStream(volume) : nullptr;
    }
    int opens = 0;

private:
    std::unique_ptr<ArchiveFile> file_;
};

// A source whose streams fail after their first `limit` bytes, as a file on a failing disk.
class FailingSource : public ByteSource {
public:
    FailingSource(const fs::path& path, int64_t limit) : file_(path), limit_(limit) {}
    std::unique_ptr<ByteStream> OpenStream(size_t volume) override {
        struct Stream : ByteStream {
            std::unique_ptr<ByteStream> inner;
            int64_t left;
            int64_t Read(void* buffer, size_t size) override {
                if (left <= 0) return -1;
                const int64_t got = inner->Read(buffer, size_t(std::min<int64_t>(left, int64_t(size))));
                left -= got > 0 ? got : 0;
                return got;
            }
            int64_t Seek(int64_t offset, int whence) override { return inner->Seek(offset, whence); }
        };
        auto stream = std::make_unique<Stream>();
        stream->inner = file_.OpenStream(volume);
        stream->left = limit_;
        return stream;
    }

private:
    CountingSource file_;
    int64_t limit_;
};

class CollectingSink : public DataSink {
public:
    bool Write(const void* data, size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
};

std::string NameOf(const ArchiveReader& reader) { return text::ToUtf8(reader.Current().name); }

}  // namespace

TEST(ArchiveReader, AHundredThousandEntriesListedWithExtractionsInOnePass) {
    CountingSource source(Sample("special/big.cpio"));
    const ModuleSettings settings;
    ArchiveReader reader(source, settings, "");
    ASSERT_TRUE(reader.Open());
    size_t index = 0;
    for (; reader.MoveTo(index, false) == Step::Entry; ++index) {
        // Morvane's order around an extraction: header, data, the same header again.
        if (index % 997 == 0) {
            ASSERT_EQ(reader.MoveTo(index, true), Step::Entry);
            CollectingSink sink;
            ASSERT_EQ(reader.ReadData(sink), DataResult::Ok);
            ASSERT_EQ(reader.MoveTo(index, false), Step::Entry);
        }
    }
    EXPECT_EQ(index, 100000u);
    EXPECT_EQ(reader.MoveTo(index, false), Step::End);
    EXPECT_EQ(source.opens, 1);
}

TEST(ArchiveReader, EarlierEntriesAndDataReadTwiceStartANewPass) {
    struct Move {
        size_t index;
        bool readData;
        Step step;
        int opens;  // passes so far
    };
    // tar.tar lists 15 entries.
    const std::vector<Move> moves = {
        {0, false, Step::Entry, 1},  {3, false, Step::Entry, 1}, {3, false, Step::Entry, 1},
        {3, true, Step::Entry, 1},   {3, false, Step::Entry, 1}, {4, true, Step::Entry, 1},
        {4, true, Step::Entry, 2},   {1, false, Step::Entry, 3}, {14, false, Step::Entry, 3},
        {15, false, Step::End, 3},   {99, false, Step::End, 3},  {14, false, Step::Entry, 3},
        {13, false, Step::Entry, 4},
    };
    CountingSource source(Sample("archives/tar.tar"));
    const ModuleSettings settings;
    ArchiveReader reader(source, settings, "");
    ASSERT_TRUE(reader.Open());
    std::vector<std::string> names(15);
    for (size_t i = 0; i < moves.size(); ++i) {
        const Move& move = moves[i];
        ASSERT_EQ(reader.MoveTo(move.index, move.readData), move.step) << "move " << i;
        if (move.step == Step::Entry) {
            // Every pass lists the same entries in the same order.
            if (names[move.index].empty()) names[move.index] = NameOf(reader);
            EXPECT_EQ(NameOf(reader), names[move.index]) << "move " << i;
        }
        if (move.readData) {
            CollectingSink sink;
            EXPECT_EQ(reader.ReadData(sink), DataResult::Ok) << "move " << i;
            EXPECT_EQ(sink.bytes.size(), reader.Current().size) << "move " << i;
        }
        EXPECT_EQ(source.opens, move.opens) << "move " << i;
    }
}

TEST(ArchiveReader, DataIsReadOncePerPassAndOnlyForAnEntry) {
    CountingSource source(Sample("archives/tar.tar"));
    const ModuleSettings settings;
    ArchiveReader reader(source, settings, "");
    ASSERT_TRUE(reader.Open());
    CollectingSink sink;
    EXPECT_EQ(reader.ReadData(sink), DataResult::BadData) << "before any entry";
    ASSERT_EQ(reader.MoveTo(0, true), Step::Entry);
    EXPECT_EQ(reader.ReadData(sink), DataResult::Ok);
    EXPECT_EQ(reader.ReadData(sink), DataResult::BadData) << "read twice";
}

TEST(ArchiveReader, SparseHolesComeOutAsZeros) {
    CountingSource source(Sample("special/sparse.tar"));
    const ModuleSettings settings;
    ArchiveReader reader(source, settings, "");
    ASSERT_TRUE(reader.Open());
    ASSERT_EQ(reader.MoveTo(0, true), Step::Entry);
    CollectingSink sink;
    ASSERT_EQ(reader.ReadData(sink), DataResult::Ok);
    std::string expected(3 * 1024 * 1024, '\0');
    expected.replace(1500000, 6, "middle");
    expected.replace(expected.size() - 3, 3, "end");
    EXPECT_EQ(sink.bytes.size(), expected.size());
    EXPECT_TRUE(sink.bytes == expected);
}

TEST(ArchiveReader, LinksAreListedAsWhatTheyExtractTo) {
    CountingSource source(Sample("special/links.tar"));
    const ModuleSettings settings;
    ArchiveReader reader(source, settings, "");
    ASSERT_TRUE(reader.Open());
    ASSERT_EQ(reader.MoveTo(1, false), Step::Entry);
    EXPECT_EQ(NameOf(reader), "symlink");
    EXPECT_EQ(reader.Current().kind, EntryKind::SymbolicLink);
    EXPECT_EQ(reader.Current().linkText, "target.txt");
    EXPECT_EQ(reader.Current().size, 10u);
    ASSERT_EQ(reader.MoveTo(2, false), Step::Entry);
    EXPECT_EQ(reader.Current().kind, EntryKind::HardLink);
    EXPECT_EQ(reader.Current().size, 12u);  // its target's
    size_t target = 99;
    uint64_t size = 0;
    ASSERT_TRUE(reader.FindFile(reader.Current().hardLinkTarget, 2, target, size));
    EXPECT_EQ(target, 0u);
    EXPECT_FALSE(reader.FindFile(reader.Current().hardLinkTarget, 0, target, size));
}

TEST(ArchiveReader, EveryFilterIsReadInProcess) {
    for (const std::string& filter : KnownFilters()) EXPECT_TRUE(FilterIsAvailable(filter)) << filter;
    // libarchive answers anything but ARCHIVE_OK when it would run an external program instead.
    std::string problem;
    EXPECT_TRUE(CheckReaderSettings(ModuleSettings(), problem)) << problem;
}

TEST(ArchiveReader, DamagedDataIsNeverTakenForData) {
    // A cut archive ends in an error, never cleanly, and what data it gives is complete.
    const fs::path folder = Sample("damaged");
    int cut = 0;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string name = item.path().filename().u8string();
        if (name.rfind("cut-", 0) != 0 || name.find("tar.xz") == std::string::npos) continue;
        ++cut;
        CountingSource source(item.path());
        const ModuleSettings settings;
        ArchiveReader reader(source, settings, "");
        if (!reader.Open()) continue;
        bool error = false;
        for (size_t index = 0; !error; ++index) {
            const Step step = reader.MoveTo(index, true);
            EXPECT_NE(step, Step::End) << name << ": a cut archive cannot end cleanly";
            if (step != Step::Entry) break;
            CollectingSink sink;
            const DataResult result = reader.ReadData(sink);
            if (result == DataResult::Ok) {
                EXPECT_EQ(sink.bytes.size(), reader.Current().size) << name;
            }
            error = result != DataResult::Ok;
        }
    }
    EXPECT_GT(cut, 3);
}

TEST(ArchiveReader, ASourceThatFailsIsAReadErrorNotBadData) {
    FailingSource source(Sample("archives/tar.tar"), 200000);
    const ModuleSettings settings;
    ArchiveReader reader(source, settings, "");
    ASSERT_TRUE(reader.Open());
    size_t index = 0;
    const std::string name = text::ToUtf8(NeutralName(u"docs/random.bin"));
    for (; reader.MoveTo(index, false) == Step::Entry && NameOf(reader) != name; ++index) {
    }
    ASSERT_EQ(reader.MoveTo(index, true), Step::Entry);
    CollectingSink sink;
    EXPECT_EQ(reader.ReadData(sink), DataResult::ReadFailed);
    EXPECT_TRUE(reader.SourceFailed());
}
