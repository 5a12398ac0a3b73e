// The progress bar of extract on a terminal: files and bytes done of the totals that the listing
// pass counted, and the current name, redrawn in place on one line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace wcxhost {

class ProgressDisplay {
public:
    using Clock = std::chrono::steady_clock;
    using Writer = std::function<void(const std::string&)>;

    // Draws nothing unless `terminal`.
    ProgressDisplay(uint64_t totalBytes, uint64_t totalFiles, bool terminal, Writer write,
                    std::function<Clock::time_point()> now = Clock::now);

    // A file entry's turn: it is counted, and its name shown.
    void StartFile(const std::u16string& name);
    // The plug-in's progress call: bytes written. Zero and negative sizes (percentages) add nothing.
    void Add(int size);
    // A file that is not extracted: its bytes count as done.
    void Skip(uint64_t bytes);
    // Clears the line before a message is printed; the next draw puts the bar back.
    void Clear();
    // The final state, and the line is ended.
    void Finish();

    // Redraws at most this often, and only when the bar moved by a 500th or this long passed.
    static constexpr std::chrono::milliseconds kMinInterval{100};
    static constexpr std::chrono::milliseconds kIdleInterval{1000};
    static constexpr int kSteps = 500;
    // A file counts as much as this many bytes, so that a tree of empty files moves the bar too.
    static constexpr uint64_t kFileWeight = 4096;

    std::string Line() const;  // what a draw shows now

private:
    void Draw(bool force);
    uint64_t Weighted(uint64_t bytes, uint64_t files) const { return bytes + files * kFileWeight; }

    const uint64_t totalBytes_, totalFiles_;
    const bool terminal_;
    Writer write_;
    std::function<Clock::time_point()> now_;
    uint64_t doneBytes_ = 0, doneFiles_ = 0;
    std::string name_;
    bool drawn_ = false;
    Clock::time_point lastDraw_{};
    uint64_t weightAtLastDraw_ = 0;
    size_t drawnWidth_ = 0;
};

}  // namespace wcxhost
