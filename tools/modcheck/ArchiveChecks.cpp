#include "ArchiveChecks.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "CheckSystem.h"
#include "ContainerCalls.h"
#include "HandleWatch.h"
#include "text/Utf8.h"

namespace modcheck {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr int32_t kMostEntries = 1000000;   // a listing that never ends is a fault, not a big archive
constexpr int32_t kFarPastTheEnd = 1000;
constexpr size_t kShownNameLength = 60;

const char* const kArchiveRules[] = {"open",  "list",    "names",            "same-entry", "end",
                                     "extract", "progress-context", "threads", "handles"};

// ---- Entries ----------------------------------------------------------------------------------

bool NameTerminated(const EntryInfo& entry) {
    return std::find(entry.Name, entry.Name + SM_NAME_LENGTH, SM_WCHAR(0)) != entry.Name + SM_NAME_LENGTH;
}

std::u16string NameOf(const EntryInfo& entry) {
    const SM_WCHAR* end = std::find(entry.Name, entry.Name + SM_NAME_LENGTH, SM_WCHAR(0));
    return std::u16string(entry.Name, end);
}

std::string Shown(const std::u16string& name) {
    if (name.size() <= kShownNameLength) return "\"" + text::ToUtf8(name) + "\"";
    return "\"" + text::ToUtf8(name.substr(0, kShownNameLength)) + "...\"";
}

std::string EntryLabel(int32_t index, const EntryInfo& entry) {
    return "entry " + std::to_string(index) + " " + Shown(NameOf(entry));
}

std::string Time(const SM_FILETIME& time) {
    return std::to_string((uint64_t(time.HighDateTime) << 32) | time.LowDateTime);
}

bool SameTime(const SM_FILETIME& a, const SM_FILETIME& b) {
    return a.LowDateTime == b.LowDateTime && a.HighDateTime == b.HighDateTime;
}

// The first field in which two readings of an entry differ; empty when every byte is the same.
std::string Difference(const EntryInfo& first, const EntryInfo& second) {
    if (std::memcmp(&first, &second, sizeof first) == 0) return std::string();
    if (first.UnpackedSize != second.UnpackedSize)
        return "UnpackedSize " + std::to_string(first.UnpackedSize) + ", then " + std::to_string(second.UnpackedSize);
    if (first.PackedSize != second.PackedSize)
        return "PackedSize " + std::to_string(first.PackedSize) + ", then " + std::to_string(second.PackedSize);
    if (first.Attributes != second.Attributes)
        return "Attributes " + std::to_string(first.Attributes) + ", then " + std::to_string(second.Attributes);
    if (!SameTime(first.CreationTime, second.CreationTime))
        return "CreationTime " + Time(first.CreationTime) + ", then " + Time(second.CreationTime);
    if (!SameTime(first.LastWriteTime, second.LastWriteTime))
        return "LastWriteTime " + Time(first.LastWriteTime) + ", then " + Time(second.LastWriteTime);
    if (NameOf(first) != NameOf(second)) return "Name " + Shown(NameOf(first)) + ", then " + Shown(NameOf(second));
    return "the bytes after the name's terminator";
}

std::string ExtractMeaning(int32_t answer) {
    switch (answer) {
    case SM_EXTRACT_OK: return "extracted";
    case SM_EXTRACT_WRITE_ERROR: return "cannot write the target";
    case SM_EXTRACT_READ_ERROR: return "cannot read the container";
    case SM_EXTRACT_BAD_DATA: return "the entry's data is bad";
    default: return "another failure";
    }
}

std::string Pointer(const void* pointer) {
    static const char digits[] = "0123456789abcdef";
    uintptr_t value = reinterpret_cast<uintptr_t>(pointer);
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + text;
}

fs::path Target(const fs::path& folder, int32_t index) { return folder / ("entry-" + std::to_string(index)); }

bool SameContent(const fs::path& first, const fs::path& second) {
    std::ifstream a(first, std::ios::binary), b(second, std::ios::binary);
    if (!a || !b) return false;
    std::vector<char> bufferA(1 << 16), bufferB(1 << 16);
    for (;;) {
        a.read(bufferA.data(), std::streamsize(bufferA.size()));
        b.read(bufferB.data(), std::streamsize(bufferB.size()));
        if (a.gcount() != b.gcount()) return false;
        if (std::memcmp(bufferA.data(), bufferB.data(), size_t(a.gcount())) != 0) return false;
        if (a.gcount() == 0 || !a || !b) return a.eof() == b.eof();
    }
}

// ---- What one container gave ------------------------------------------------------------------

// One call of the drive, and what it answered.
struct Step {
    enum class Kind { Open, Prepare, Read, Extract, Close } kind;
    int32_t index;
};

struct Outcome {
    bool ran = false;
    int32_t answer = 0;
    EntryInfo entry{};
};

std::string StepName(const Step& step) {
    switch (step.kind) {
    case Step::Kind::Open: return "OpenProc";
    case Step::Kind::Prepare: return "PrepareProc";
    case Step::Kind::Read: return "ReadEntryProc(index " + std::to_string(step.index) + ")";
    case Step::Kind::Extract: return "ExtractProc(index " + std::to_string(step.index) + ")";
    case Step::Kind::Close: return "CloseProc";
    }
    return "?";
}

// Both threads wait here after every step, so that each call of one container runs beside the
// same call of the other, however fast either thread is. The steps are short: a yielding spin
// costs far less than a sleep and a wake-up (under Wine, two server calls).
class StepBarrier {
public:
    void Wait() {
        const uint64_t round = round_.load();
        if (waiting_.fetch_add(1) == 1) {
            waiting_.store(0);
            round_.fetch_add(1);
            return;
        }
        while (round_.load() == round) std::this_thread::yield();
    }

private:
    std::atomic<int> waiting_{0};
    std::atomic<uint64_t> round_{0};
};

// Runs the steps on one container, waiting at the barrier after each; calls nothing more on a
// container that did not open.
void Replay(ContainerCalls& calls, const std::vector<Step>& steps, const std::string* password, const fs::path& folder,
            StepBarrier& barrier, std::vector<Outcome>& outcomes) {
    bool usable = true;
    for (const Step& step : steps) {
        Outcome outcome;
        if (usable) {
            outcome.ran = true;
            switch (step.kind) {
            case Step::Kind::Open:
                outcome.answer = calls.Open(nullptr);
                if (outcome.answer == SM_OPEN_NEED_PASSWORD && password) outcome.answer = calls.Open(password);
                usable = outcome.answer == SM_OPEN_OK && calls.Handle();
                break;
            case Step::Kind::Prepare:
                outcome.answer = calls.Prepare();
                usable = outcome.answer != 0;
                break;
            case Step::Kind::Read: outcome.answer = calls.Read(step.index, outcome.entry); break;
            case Step::Kind::Extract: outcome.answer = calls.Extract(step.index, Target(folder, step.index)); break;
            case Step::Kind::Close: calls.Close(); break;
            }
        }
        outcomes.push_back(outcome);
        barrier.Wait();
    }
}

std::string ProgressProblem(const std::string& where, const ProgressTally& tally, const void* expected) {
    return where + ": " + std::to_string(tally.wrongContexts) + " of " + Count(tally.calls, "progress call", "progress calls") +
           " passed the context " + Pointer(tally.firstWrongContext) + " instead of " + Pointer(expected) +
           ", the one given in the ExtractRequest";
}

}  // namespace

ArchiveChecks::ArchiveChecks(Report& report, const SubModuleInterface& operations, fs::path scratch, fs::path canaryFile,
                             const std::string* password)
    : report_(report),
      operations_(operations),
      scratch_(std::move(scratch)),
      canaryFile_(std::move(canaryFile)),
      password_(password) {}

void ArchiveChecks::SkipAll(Report& report, const std::string& subject, const std::string& reason) {
    for (const char* rule : kArchiveRules) report.Skip(rule, subject, reason);
}

void ArchiveChecks::Run(const std::u16string& archive, int number) {
    std::error_code error;
    const fs::path archivePath = fs::absolute(sys::FilePath(archive), error);
    const std::string subject = text::ToUtf8(sys::PathText(archivePath.filename()));
    if (!fs::is_regular_file(archivePath, error)) {
        SkipAll(report_, subject, "no such file");
        return;
    }
    const fs::path folder = scratch_ / ("archive-" + std::to_string(number));
    const fs::path alone = folder / "alone", first = folder / "thread-1", second = folder / "thread-2";
    for (const fs::path& made : {alone, first, second}) fs::create_directories(made, error);
    const std::u16string archiveText = sys::PathText(archivePath);
    const uint64_t strayBefore = StrayProgressCalls();

    std::vector<std::string> listProblems, nameProblems, sameProblems, endProblems, extractProblems, progressProblems,
        threadProblems, handleProblems;

    // ---- The first container, alone and watched ----
    HandleWatch watch(canaryFile_);
    watch.Begin();
    ContainerCalls calls(operations_, archiveText, subject, &watch);
    std::vector<Step> steps{{Step::Kind::Open, 0}, {Step::Kind::Prepare, 0}};
    std::vector<Outcome> expected;

    int32_t answer = calls.Open(nullptr);
    const bool askedForPassword = answer == SM_OPEN_NEED_PASSWORD;
    if (askedForPassword && password_) answer = calls.Open(password_);
    std::string openProblem;
    if (answer == SM_OPEN_NOT_MINE) {
        openProblem = "OpenProc answered 0: the module does not claim the archive";
    } else if (answer == SM_OPEN_NEED_PASSWORD) {
        openProblem = password_ ? "OpenProc answered 2 again with the password given"
                                : "OpenProc answered 2: the archive needs a password (give it with --password)";
    } else if (answer != SM_OPEN_OK) {
        openProblem = "OpenProc answered " + std::to_string(answer) + ", which fails the open";
    } else if (!calls.Handle()) {
        openProblem = "OpenProc answered 1 but left the handle null: Morvane would list nothing and close nothing";
    }
    int32_t prepared = 1;
    if (openProblem.empty()) {
        prepared = calls.Prepare();
        if (prepared == 0) openProblem = "PrepareProc answered 0: every open of the archive would fail";
    }
    if (!openProblem.empty()) {
        report_.Fail("open", subject, openProblem);
        for (size_t i = 1; i < sizeof kArchiveRules / sizeof kArchiveRules[0]; ++i)
            report_.Skip(kArchiveRules[i], subject, "the archive did not open");
        return;
    }
    report_.Pass("open", subject,
                 std::string(askedForPassword ? "OpenProc answered 2, then 1 with the password" : "OpenProc answered 1") +
                     " with a non-null handle; PrepareProc answered " + std::to_string(prepared));
    expected.push_back(Outcome{true, SM_OPEN_OK, {}});
    expected.push_back(Outcome{true, prepared, {}});

    // Morvane passes -1 when the file manager extracts before it has read any header.
    const int32_t early = calls.Extract(-1, alone / "before-any-header");
    if (early == SM_EXTRACT_OK)
        extractProblems.push_back("ExtractProc answered 0 for EntryIndex -1, an extraction before any header was read");

    int32_t entries = 0, directories = 0;
    uint64_t files = 0, bytes = 0;
    bool ended = false;
    for (int32_t index = 0; index < kMostEntries; ++index) {
        Outcome listed{true, 0, {}};
        listed.answer = calls.Read(index, listed.entry);
        steps.push_back({Step::Kind::Read, index});
        expected.push_back(listed);
        if (listed.answer == SM_ENTRY_END) {
            ended = true;
            break;
        }
        if (listed.answer == SM_ENTRY_ERROR) {
            listProblems.push_back("ReadEntryProc answered 0 (a damaged container) at index " + std::to_string(index));
            break;
        }
        ++entries;
        const std::string label = EntryLabel(index, listed.entry);
        if (listed.answer != SM_ENTRY_OK)
            listProblems.push_back(label + ": ReadEntryProc answered " + std::to_string(listed.answer) +
                                   ", which is not an answer of the contract");
        if (!NameTerminated(listed.entry))
            nameProblems.push_back(label + ": no terminating zero within the 1024 code units of Name");

        EntryInfo again;
        const int32_t againAnswer = calls.Read(index, again);
        const std::string change = Difference(listed.entry, again);
        if (againAnswer != listed.answer)
            sameProblems.push_back(label + " asked twice: answered " + std::to_string(listed.answer) + ", then " +
                                   std::to_string(againAnswer));
        else if (!change.empty())
            sameProblems.push_back(label + " asked twice: " + change);

        if (listed.entry.Attributes & kDirectoryAttribute) {
            ++directories;
            continue;
        }
        const fs::path target = Target(alone, index);
        const int32_t extracted = calls.Extract(index, target);
        steps.push_back({Step::Kind::Extract, index});
        expected.push_back(Outcome{true, extracted, {}});
        if (extracted != SM_EXTRACT_OK) {
            extractProblems.push_back(label + ": ExtractProc answered " + std::to_string(extracted) + " (" +
                                      ExtractMeaning(extracted) + ")");
            continue;
        }
        if (!fs::is_regular_file(target, error)) {
            extractProblems.push_back(label + ": ExtractProc answered 0 but wrote no file");
        } else {
            const uint64_t size = fs::file_size(target, error);
            ++files;
            bytes += size;
            if (size != listed.entry.UnpackedSize)
                extractProblems.push_back(label + ": ExtractProc wrote " + std::to_string(size) +
                                          " bytes, UnpackedSize says " + std::to_string(listed.entry.UnpackedSize));
            if (sys::IsOpenInProcess(target))
                extractProblems.push_back(label + ": the file is still open after ExtractProc answered 0");
        }
        // As Morvane does after an extraction: the entry again, for its times.
        Outcome after{true, 0, {}};
        after.answer = calls.Read(index, after.entry);
        steps.push_back({Step::Kind::Read, index});
        expected.push_back(after);
        const std::string changed = Difference(listed.entry, after.entry);
        if (after.answer != listed.answer)
            sameProblems.push_back(label + " read again after its extraction: answered " + std::to_string(listed.answer) +
                                   ", then " + std::to_string(after.answer));
        else if (!changed.empty())
            sameProblems.push_back(label + " read again after its extraction: " + changed);
    }
    if (!ended && listProblems.empty())
        listProblems.push_back("ReadEntryProc never answered 2 within " + std::to_string(kMostEntries) + " entries");

    if (ended) {
        for (const int32_t index : {entries, entries + 1, entries + kFarPastTheEnd}) {
            EntryInfo beyond;
            const int32_t beyondAnswer = calls.Read(index, beyond);
            if (beyondAnswer != SM_ENTRY_END)
                endProblems.push_back("index " + std::to_string(index) + " after the end answered " +
                                      std::to_string(beyondAnswer) + ", expected 2");
        }
    }
    calls.Close();
    steps.push_back({Step::Kind::Close, 0});
    expected.push_back(Outcome{true, 0, {}});
    watch.End();
    handleProblems = watch.Problems();
    if (sys::IsOpenInProcess(archivePath)) handleProblems.push_back("the archive is still open after CloseProc");

    const ProgressTally& progress = calls.Progress();
    if (progress.wrongContexts) progressProblems.push_back(ProgressProblem("alone", progress, calls.Owner()));

    // ---- Two more containers, on two threads at once ----
    {
        ContainerCalls one(operations_, archiveText, subject + " on thread 1", nullptr);
        ContainerCalls two(operations_, archiveText, subject + " on thread 2", nullptr);
        StepBarrier barrier;
        std::vector<Outcome> outcomesOne, outcomesTwo;
        std::thread other([&] { Replay(two, steps, password_, second, barrier, outcomesTwo); });
        Replay(one, steps, password_, first, barrier, outcomesOne);
        other.join();

        struct ThreadRun {
            const char* name;
            const std::vector<Outcome>& outcomes;
            const fs::path& folder;
        };
        const ThreadRun runs[] = {{"thread 1", outcomesOne, first}, {"thread 2", outcomesTwo, second}};
        for (const ThreadRun& run : runs) {
            for (size_t i = 0; i < steps.size(); ++i) {
                const Step& step = steps[i];
                const Outcome& got = run.outcomes[i];
                const Outcome& wanted = expected[i];
                const std::string where = std::string(run.name) + ", " + StepName(step);
                if (step.kind == Step::Kind::Close) continue;
                if (!got.ran) {
                    threadProblems.push_back(where + ": not called, the container did not open");
                    break;
                }
                if (got.answer != wanted.answer) {
                    threadProblems.push_back(where + ": answered " + std::to_string(got.answer) + ", alone it answered " +
                                             std::to_string(wanted.answer));
                    continue;
                }
                if (step.kind == Step::Kind::Read) {
                    const std::string change = Difference(wanted.entry, got.entry);
                    if (!change.empty()) threadProblems.push_back(where + ": alone, then on two threads: " + change);
                }
                // A file missing when extracted alone was reported by the extract rule already.
                if (step.kind == Step::Kind::Extract && got.answer == SM_EXTRACT_OK &&
                    fs::exists(Target(alone, step.index), error)) {
                    const fs::path file = Target(run.folder, step.index);
                    if (!SameContent(Target(alone, step.index), file))
                        threadProblems.push_back(where + ": the file differs from the one extracted alone");
                    if (sys::IsOpenInProcess(file))
                        handleProblems.push_back(where + ": the file is still open after ExtractProc answered 0");
                }
            }
        }
        if (one.Progress().wrongContexts)
            progressProblems.push_back(ProgressProblem("thread 1", one.Progress(), one.Owner()));
        if (two.Progress().wrongContexts)
            progressProblems.push_back(ProgressProblem("thread 2", two.Progress(), two.Owner()));
        if (sys::IsOpenInProcess(archivePath))
            handleProblems.push_back("the archive is still open after CloseProc of the containers on two threads");
    }
    const uint64_t stray = StrayProgressCalls() - strayBefore;
    if (stray)
        progressProblems.push_back(Count(stray, "progress call", "progress calls") +
                                   " came with a context of no extraction under way");

    // ---- The verdicts ----
    report_.Verdict("list", subject, listProblems,
                    "ReadEntryProc answered 1 for " + Count(uint64_t(entries), "entry", "entries") + ", then 2");
    report_.Verdict("names", subject, nameProblems, "every name is terminated within its 1024 code units");
    report_.Verdict("same-entry", subject, sameProblems,
                    "each index asked twice, and again after its extraction, gave the same entry");
    if (ended)
        report_.Verdict("end", subject, endProblems,
                        "indexes " + std::to_string(entries) + ", " + std::to_string(entries + 1) + " and " +
                            std::to_string(entries + kFarPastTheEnd) + " answered 2");
    else
        report_.Skip("end", subject, "the listing did not end");
    report_.Verdict("extract", subject, extractProblems,
                    Count(files, "file", "files") + " (" + std::to_string(bytes) + " bytes) extracted with the answer 0, " +
                        "each closed and of its listed size; " + Count(uint64_t(directories), "directory", "directories") +
                        " left to the host; EntryIndex -1 answered " + std::to_string(early));
    report_.Verdict("progress-context", subject, progressProblems,
                    Count(progress.calls, "progress call", "progress calls") + " (" + std::to_string(progress.amount) +
                        " bytes), each with the context of its ExtractRequest");
    report_.Verdict("threads", subject, threadProblems,
                    "two containers used on two threads at once, in step, gave the same answers, entries and files "
                    "as one alone");
    report_.Verdict("handles", subject, handleProblems,
                    Count(watch.FilesOpened(), "file", "files") +
                        " held open by the module between its calls, each closed once; the archive and every "
                        "extracted file closed");
}

}  // namespace modcheck
