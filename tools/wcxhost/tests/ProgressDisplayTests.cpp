// The progress bar: how often it is drawn, whatever the speed of the run, and what it counts.
#include <gtest/gtest.h>

#include "ProgressDisplay.h"

using namespace wcxhost;

namespace {

struct Screen {
    std::string written;
    int draws = 0;
    ProgressDisplay::Clock::time_point now{};
    ProgressDisplay Make(uint64_t bytes, uint64_t files, bool terminal = true) {
        return ProgressDisplay(
            bytes, files, terminal,
            [this](const std::string& text) {
                written += text;
                if (!text.empty() && text[0] == '\r' && text.find_first_not_of(" \r") != std::string::npos) ++draws;
            },
            [this] { return now; });
    }
};

TEST(WcxhostProgressDisplay, DrawsRarelyHoweverLongTheRunTakes) {
    using std::chrono::milliseconds;
    const struct {
        const char* what;
        int files;
        std::chrono::microseconds perFile;
        int maxDraws;
    } cases[] = {
        // All at once: the first draw and the final one.
        {"20,000 files in no time", 20000, std::chrono::microseconds(0), 2},
        // Ten a second at the most.
        {"20,000 files in 2 s", 20000, std::chrono::microseconds(100), 22},
        // A visible step (1/500) or a quiet second: never more than ~500 plus one a second.
        {"20,000 files in 200 s", 20000, milliseconds(10), 500 + 200 + 2},
        {"20,000 files in 2,000 s", 20000, milliseconds(100), 500 + 2000 + 2},
    };
    for (const auto& c : cases) {
        Screen screen;
        ProgressDisplay progress = screen.Make(0, uint64_t(c.files));
        for (int i = 0; i < c.files; ++i) {
            progress.StartFile(u"folder/file-" + std::u16string(1, char16_t(u'a' + i % 26)) + u".txt");
            screen.now += c.perFile;
        }
        progress.Finish();
        EXPECT_LE(screen.draws, c.maxDraws) << c.what;
        EXPECT_GE(screen.draws, 2) << c.what;
        // The 20,000-entry run of a terminal stays far below 100 KB.
        if (c.perFile <= milliseconds(10)) {
            EXPECT_LT(screen.written.size(), 100000u) << c.what;
        }
    }
}

TEST(WcxhostProgressDisplay, CountsFilesAsWellAsBytes) {
    Screen screen;
    ProgressDisplay progress = screen.Make(0, 4);
    progress.StartFile(u"a");
    progress.StartFile(u"b");
    // Empty files only: the files carry the bar.
    EXPECT_EQ(progress.Line().substr(0, 34), "[##########----------]  50%  2/4 f");

    Screen bytes;
    ProgressDisplay big = bytes.Make(4 << 20, 1);
    big.StartFile(u"big.bin");
    big.Add(2 << 20);
    big.Add(-50);  // a percentage: no bytes
    EXPECT_NE(big.Line().find(" 50%  1/1 files  2.0 MiB / 4.0 MiB  big.bin"), std::string::npos) << big.Line();
    big.Skip(2 << 20);
    EXPECT_NE(big.Line().find("100%"), std::string::npos) << big.Line();

    Screen none;
    ProgressDisplay empty = none.Make(0, 0);
    EXPECT_NE(empty.Line().find("100%  0/0 files"), std::string::npos) << empty.Line();
}

TEST(WcxhostProgressDisplay, KeepsToOneLineOfEightyColumnsAndCutsNamesFromTheLeft) {
    Screen screen;
    ProgressDisplay progress = screen.Make(100, 1);
    const std::u16string name = u"very/long/path/" + std::u16string(100, u'\u00E9') + u"/end.txt";
    progress.StartFile(name);
    const std::string line = progress.Line();
    size_t columns = 0;
    for (char c : line)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
    EXPECT_EQ(columns, 79u);
    EXPECT_EQ(line.substr(line.size() - 8), "/end.txt");
    EXPECT_NE(line.find("..."), std::string::npos);
    // Control characters never reach the terminal.
    progress.StartFile(u"evil\x1b[2Jname\r");
    EXPECT_EQ(progress.Line().find('\x1b'), std::string::npos);
    EXPECT_NE(progress.Line().find("evil?[2Jname?"), std::string::npos);
}

TEST(WcxhostProgressDisplay, WritesNothingOffATerminalAndClearsItsLineForMessages) {
    Screen pipe;
    ProgressDisplay quiet = pipe.Make(10, 1, false);
    quiet.StartFile(u"a");
    quiet.Add(10);
    quiet.Clear();
    quiet.Finish();
    EXPECT_EQ(pipe.written, "");

    Screen screen;
    ProgressDisplay progress = screen.Make(1000000, 1);
    progress.Clear();  // nothing drawn yet: nothing to clear
    EXPECT_EQ(screen.written, "");
    progress.StartFile(u"a");
    const size_t width = screen.written.size() - 1;  // without the leading "\r"
    progress.Clear();
    EXPECT_EQ(screen.written.substr(width + 1), "\r" + std::string(width, ' ') + "\r");
    // After a message the bar comes back at the next chance, without waiting for a step.
    screen.now += ProgressDisplay::kMinInterval;
    const int draws = screen.draws;
    progress.Add(1);
    EXPECT_EQ(screen.draws, draws + 1);
    progress.Finish();
    EXPECT_EQ(screen.written.back(), '\n');
}

}  // namespace
