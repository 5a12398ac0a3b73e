#include "ProgressDisplay.h"

#include <cstdio>
#include <utility>

#include "Text.h"

namespace wcxhost {

namespace {

constexpr size_t kColumns = 79;
constexpr int kBarWidth = 20;

size_t Columns(const std::string& text) {
    size_t columns = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
    return columns;
}

std::string CutFromLeft(const std::string& text, size_t room) {
    if (Columns(text) <= room) return text;
    if (room < 4) return std::string();
    size_t skip = Columns(text) - (room - 3), i = 0;
    for (; i < text.size() && skip > 0; --skip) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return "..." + text.substr(i);
}

// A name as shown: control characters, which could move the cursor, become "?".
std::string Shown(std::u16string name) {
    for (char16_t& c : name)
        if (c < 0x20 || c == 0x7F) c = u'?';
    return ToUtf8(name);
}

}  // namespace

constexpr std::chrono::milliseconds ProgressDisplay::kMinInterval;
constexpr std::chrono::milliseconds ProgressDisplay::kIdleInterval;

ProgressDisplay::ProgressDisplay(uint64_t totalBytes, uint64_t totalFiles, bool terminal, Writer write,
                                 std::function<Clock::time_point()> now)
    : totalBytes_(totalBytes), totalFiles_(totalFiles), terminal_(terminal), write_(std::move(write)),
      now_(std::move(now)) {}

void ProgressDisplay::StartFile(const std::u16string& name) {
    ++doneFiles_;
    name_ = Shown(name);
    Draw(false);
}

void ProgressDisplay::Add(int size) {
    if (size > 0) doneBytes_ += uint64_t(size);
    Draw(false);
}

void ProgressDisplay::Skip(uint64_t bytes) {
    doneBytes_ += bytes;
    Draw(false);
}

void ProgressDisplay::Clear() {
    if (terminal_ && drawnWidth_ > 0) write_("\r" + std::string(drawnWidth_, ' ') + "\r");
    drawnWidth_ = 0;
}

void ProgressDisplay::Finish() {
    if (!terminal_) return;
    name_.clear();
    Draw(true);
    write_("\n");
    drawnWidth_ = 0;
}

std::string ProgressDisplay::Line() const {
    const uint64_t total = Weighted(totalBytes_, totalFiles_);
    uint64_t done = Weighted(doneBytes_, doneFiles_);
    if (done > total) done = total;
    const int percent = total == 0 ? 100 : int(done * 100 / total);
    const int filled = total == 0 ? kBarWidth : int(done * kBarWidth / total);
    std::string line = "[" + std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '-') + "]";
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " %3d%%  %llu/%llu files  ", percent,
                  static_cast<unsigned long long>(doneFiles_), static_cast<unsigned long long>(totalFiles_));
    line += numbers;
    line += FormatBytes(doneBytes_) + " / " + FormatBytes(totalBytes_) + "  ";
    // The name is cut from the left so that the line fits a terminal of 80 columns.
    const size_t room = Columns(line) < kColumns ? kColumns - Columns(line) : 0;
    return line + CutFromLeft(name_, room);
}

void ProgressDisplay::Draw(bool force) {
    if (!terminal_) return;
    const Clock::time_point now = now_();
    const uint64_t weight = Weighted(doneBytes_, doneFiles_);
    if (!force && drawn_) {
        // At most ten times a second, and then only for a visible step or after a quiet second:
        // the output stays small however long the run takes.
        const auto since = now - lastDraw_;
        if (since < kMinInterval) return;
        const uint64_t step = Weighted(totalBytes_, totalFiles_) / kSteps;
        const bool cleared = drawnWidth_ == 0;  // a message took the line: put the bar back soon
        if (!cleared && weight - weightAtLastDraw_ < step && since < kIdleInterval) return;
    }
    drawn_ = true;
    lastDraw_ = now;
    weightAtLastDraw_ = weight;
    const std::string line = Line();
    const size_t width = Columns(line);
    write_("\r" + line + (width < drawnWidth_ ? std::string(drawnWidth_ - width, ' ') : std::string()));
    drawnWidth_ = width;
}

}  // namespace wcxhost
