#include "Commands.h"

#include <chrono>
#include <cstdio>
#include <functional>

#include "HostPlatform.h"
#include "Text.h"

namespace wcxhost {

namespace {

using platform::Stream;

void Out(const std::string& text) { platform::Write(Stream::Out, text); }
void Err(const std::string& text) { platform::Write(Stream::Err, "wcxhost: " + text + "\n"); }

int ExitStatusFor(int resultCode) { return IsKnownResult(resultCode) ? resultCode : kExitUnknownResult; }

// Remembers the first failure, whose status the program exits with.
struct Outcome {
    int status = kExitOk;
    int failures = 0;
    void Fail(int exitStatus) {
        if (status == kExitOk) status = exitStatus;
        ++failures;
    }
};

// A name as printed: control characters, which could forge lines or move the cursor, become "?".
std::string Shown(std::u16string name) {
    for (char16_t& c : name)
        if (c < 0x20 || c == 0x7F) c = u'?';
    return ToUtf8(name);
}

std::string Quoted(const std::u16string& name) { return "\"" + Shown(name) + "\""; }

std::string Count(uint64_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

// ---- One pass over an archive, as a file manager makes it -------------------------------------

// Called for each header; answers the operation for ProcessFile and may set a target.
using EntryHandler = std::function<int(const Header& header, std::u16string& target, bool& useTarget)>;
// Called with the operation asked for each entry and the ProcessFile result.
using ResultHandler = std::function<void(const Header& header, int operation, int result)>;

int OpenFailure(const Plugin& plugin, const Job& job, int openResult) {
    const char* call = plugin.Ansi() ? "OpenArchive" : "OpenArchiveW";
    if (openResult == -1) {
        Err("cannot open " + Quoted(job.archive) + ": its path has no form in the ANSI code page");
        return kExitHostError;
    }
    if (openResult == 0) {
        Err("cannot open " + Quoted(job.archive) + ": " + call + " returned no handle and OpenResult 0");
        return kExitUnknownResult;
    }
    Err("cannot open " + Quoted(job.archive) + ": " + call + " answered " + DescribeResult(openResult));
    return ExitStatusFor(openResult);
}

// Opens, walks every header and closes; answers kExitOk or the status of a failed open or
// header. Per-entry results go to onResult, which records their failures itself.
int Walk(const Plugin& plugin, const Job& job, int mode, tProcessDataProcW wide, tProcessDataProc ansi,
         const EntryHandler& onEntry, const ResultHandler& onResult, bool reportHeaderErrors = true,
         bool* openFailed = nullptr) {
    int openResult = 0;
    PK_HANDLE archive = plugin.Open(job.archive, mode, openResult);
    if (openFailed) *openFailed = archive == nullptr;
    if (!archive) return OpenFailure(plugin, job, openResult);
    plugin.SetProgress(archive, wide, ansi);
    int status = kExitOk;
    std::u16string previous;
    for (int index = 0;; ++index) {
        Header header;
        const int result = plugin.ReadHeader(archive, header);
        if (result == E_END_ARCHIVE) break;
        if (result != 0) {
            if (reportHeaderErrors) {
                const std::string where = index == 0 ? "the first header" : "the header after " + Quoted(previous);
                Err("reading " + where + ": " + (plugin.Ansi() ? "ReadHeader" : "ReadHeaderExW") + " answered " +
                    DescribeResult(result));
            }
            status = ExitStatusFor(result);
            break;
        }
        previous = header.name;
        std::u16string target;
        bool useTarget = false;
        const int operation = onEntry(header, target, useTarget);
        const int processed = plugin.Process(archive, operation, useTarget ? &target : nullptr);
        if (onResult) onResult(header, operation, processed);
    }
    plugin.Close(archive);
    return status;
}

int Combine(int walkStatus, const Outcome& outcome) {
    // A failed header stops the walk after the entries before it, which may have failed first.
    if (outcome.status != kExitOk) return outcome.status;
    return walkStatus;
}

void EntryFailure(const Plugin& plugin, const Header& header, int result, Outcome& outcome) {
    const char* call = plugin.Ansi() ? "ProcessFile" : "ProcessFileW";
    if (result == -1) {
        Err(Quoted(header.name) + ": the target path has no form in the ANSI code page");
        outcome.Fail(kExitHostError);
        return;
    }
    Err(Quoted(header.name) + ": " + call + " answered " + DescribeResult(result));
    outcome.Fail(ExitStatusFor(result));
}

// ---- Progress ---------------------------------------------------------------------------------

// What the plug-in's progress calls add up to during one extraction. The callbacks carry no
// context, and wcxhost extracts one archive at a time on one thread.
class ProgressDisplay {
public:
    ProgressDisplay(uint64_t total, bool terminal) : total_(total), terminal_(terminal) {}

    void Add(int size) {
        // Negative sizes are percentages, which a byte count cannot use.
        if (size > 0) done_ += uint64_t(size);
        Draw(false);
    }
    void Start(const std::u16string& name) {
        name_ = Shown(name);
        Draw(true);
    }
    // Clears the bar before a line is printed, and draws it again afterwards.
    void Clear() {
        if (terminal_ && drawnWidth_ > 0) Out("\r" + std::string(drawnWidth_, ' ') + "\r");
        drawnWidth_ = 0;
    }
    void Finish() {
        if (!terminal_) return;
        name_.clear();
        Draw(true);
        Out("\n");
        drawnWidth_ = 0;
    }

    static ProgressDisplay* current;

private:
    void Draw(bool force) {
        if (!terminal_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
        lastDraw_ = now;
        const uint64_t shown = total_ == 0 ? 1 : (done_ > total_ ? total_ : done_);
        const uint64_t whole = total_ == 0 ? 1 : total_;
        const int percent = int(shown * 100 / whole);
        const int filled = int(shown * 24 / whole);
        std::string line = "[" + std::string(size_t(filled), '#') + std::string(size_t(24 - filled), '-') + "] ";
        char number[8];
        std::snprintf(number, sizeof number, "%3d%%", percent);
        line += number;
        line += "  " + FormatBytes(done_) + " / " + FormatBytes(total_) + "  ";
        // The name is cut from the left so that the line stays within 79 columns.
        const size_t room = line.size() < 79 ? 79 - line.size() : 0;
        line += CutFromLeft(name_, room);
        const size_t width = Columns(line);
        Out("\r" + line + (width < drawnWidth_ ? std::string(drawnWidth_ - width, ' ') : std::string()));
        drawnWidth_ = width;
    }
    static size_t Columns(const std::string& text) {
        size_t columns = 0;
        for (const char c : text)
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
        return columns;
    }
    static std::string CutFromLeft(const std::string& text, size_t room) {
        if (Columns(text) <= room) return text;
        if (room < 4) return std::string();
        size_t skip = Columns(text) - (room - 3), i = 0;
        for (; i < text.size() && skip > 0; --skip) {
            ++i;
            while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
        }
        return "..." + text.substr(i);
    }

    uint64_t total_ = 0, done_ = 0;
    bool terminal_ = false;
    std::string name_;
    size_t drawnWidth_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

ProgressDisplay* ProgressDisplay::current = nullptr;

int PK_CALL OnProgressW(PK_WCHAR* /*fileName*/, int size) {
    if (ProgressDisplay::current) ProgressDisplay::current->Add(size);
    return 1;
}

int PK_CALL OnProgress(char* /*fileName*/, int size) {
    if (ProgressDisplay::current) ProgressDisplay::current->Add(size);
    return 1;
}

// ---- Targets ----------------------------------------------------------------------------------

// The entry's path below the destination, or false when it would leave it (absolute, a drive,
// or a ".." component).
bool TargetBelow(const std::u16string& destination, const std::u16string& name, std::u16string& target) {
    std::u16string relative;
    size_t start = 0;
    if (!name.empty() && (name[0] == u'/' || name[0] == u'\\')) return false;
    if (name.size() >= 2 && name[1] == u':') return false;
    while (start <= name.size()) {
        size_t end = name.find_first_of(u"/\\", start);
        if (end == std::u16string::npos) end = name.size();
        const std::u16string part = name.substr(start, end - start);
        if (part == u"..") return false;
        if (!part.empty() && part != u".") {
            if (!relative.empty()) relative += platform::kSeparator;
            relative += part;
        }
        start = end + 1;
    }
    if (relative.empty()) return false;
    target = destination;
    if (target.empty() || (target.back() != u'/' && target.back() != u'\\')) target += platform::kSeparator;
    target += relative;
    return true;
}

std::u16string ParentOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

}  // namespace

int CheckRecognised(const Plugin& plugin, const Job& job) {
    if (!(plugin.Caps() & PK_CAPS_BY_CONTENT) || !plugin.CanProbe()) return kExitOk;
    if (plugin.CanYouHandle(job.archive)) return kExitOk;
    Err("cannot open " + Quoted(job.archive) + ": " + (plugin.Ansi() ? "CanYouHandleThisFile" : "CanYouHandleThisFileW") +
        " answered 0, taken as " + DescribeResult(E_UNKNOWN_FORMAT));
    return E_UNKNOWN_FORMAT;
}

int Probe(const Plugin& plugin, const Job& job) {
    Out("GetPackerCaps: " + FormatCaps(plugin.Caps()) + "\n");
    const bool handled = plugin.CanYouHandle(job.archive);
    Out(std::string(plugin.Ansi() ? "CanYouHandleThisFile" : "CanYouHandleThisFileW") + ": " +
        (handled ? "yes, the plug-in handles " : "no, the plug-in does not handle ") + Quoted(job.archive) + "\n");
    return handled ? kExitOk : kExitNotHandled;
}

int List(const Plugin& plugin, const Job& job) {
    Out("Archive: " + ToUtf8(job.archive) + "\n");
    Out("          Size         Packed  Date       Time      Attr   Name\n");
    uint64_t files = 0, directories = 0, bytes = 0;
    Outcome outcome;
    const int status = Walk(
        plugin, job, PK_OM_LIST, OnProgressW, OnProgress,
        [&](const Header& header, std::u16string&, bool&) {
            char sizes[64];
            std::snprintf(sizes, sizeof sizes, "%14llu %14llu  ", static_cast<unsigned long long>(header.unpackedSize),
                          static_cast<unsigned long long>(header.packedSize));
            Out(sizes + FormatDosTime(header.fileTime) + "  " + FormatAttributes(header.attributes) + "  " +
                Shown(header.name) + "\n");
            if (header.IsDirectory()) {
                ++directories;
            } else {
                ++files;
                bytes += header.unpackedSize;
            }
            return PK_SKIP;
        },
        [&](const Header& header, int, int result) {
            if (result != 0) EntryFailure(plugin, header, result, outcome);
        });
    Out(Count(files, "file", "files") + ", " + Count(directories, "directory", "directories") + ", " +
        Count(bytes, "byte", "bytes") + "\n");
    return Combine(status, outcome);
}

int Test(const Plugin& plugin, const Job& job) {
    uint64_t tested = 0;
    Outcome outcome;
    const int status = Walk(
        plugin, job, PK_OM_EXTRACT, OnProgressW, OnProgress,
        [&](const Header& header, std::u16string&, bool&) { return header.IsDirectory() ? PK_SKIP : PK_TEST; },
        [&](const Header& header, int operation, int result) {
            if (operation != PK_TEST) {
                if (result != 0) EntryFailure(plugin, header, result, outcome);
                return;
            }
            ++tested;
            if (result != 0) EntryFailure(plugin, header, result, outcome);
            else Out("OK      " + Shown(header.name) + "\n");
        });
    Out("Tested " + Count(tested, "file", "files") + ": " +
        (outcome.failures == 0 ? std::string("no errors") : std::to_string(outcome.failures) + " failed") + "\n");
    return Combine(status, outcome);
}

int Extract(const Plugin& plugin, const Job& job) {
    if (!platform::MakeDirectories(job.destination)) {
        Err("cannot create the destination " + Quoted(job.destination));
        return kExitHostError;
    }
    // A first pass adds up the sizes for the progress display; a damaged header shows up again
    // in the second pass, after the entries before it were extracted.
    uint64_t total = 0;
    bool openFailed = false;
    const int listed = Walk(
        plugin, job, PK_OM_LIST, OnProgressW, OnProgress,
        [&](const Header& header, std::u16string&, bool&) {
            if (!header.IsDirectory()) total += header.unpackedSize;
            return PK_SKIP;
        },
        nullptr, false, &openFailed);
    if (openFailed) return listed;

    const bool terminal = platform::IsTerminal(Stream::Out);
    ProgressDisplay progress(total, terminal);
    ProgressDisplay::current = &progress;
    Outcome outcome;
    uint64_t files = 0, directories = 0, bytes = 0;
    const auto started = std::chrono::steady_clock::now();
    const int status = Walk(
        plugin, job, PK_OM_EXTRACT, OnProgressW, OnProgress,
        [&](const Header& header, std::u16string& target, bool& useTarget) {
            if (!TargetBelow(job.destination, header.name, target)) {
                progress.Clear();
                Err(Quoted(header.name) + ": not extracted, the name leads outside the destination");
                outcome.Fail(kExitUnsafeName);
                return PK_SKIP;
            }
            if (header.IsDirectory()) {
                // Directories are the host's to create; the plug-in extracts files only.
                if (platform::MakeDirectories(target)) {
                    ++directories;
                } else {
                    progress.Clear();
                    Err(Quoted(header.name) + ": cannot create the directory " + Quoted(target));
                    outcome.Fail(kExitHostError);
                }
                return PK_SKIP;
            }
            const std::u16string parent = ParentOf(target);
            if (!parent.empty()) platform::MakeDirectories(parent);
            progress.Start(header.name);
            useTarget = true;
            return PK_EXTRACT;
        },
        [&](const Header& header, int operation, int result) {
            if (result != 0) {
                progress.Clear();
                EntryFailure(plugin, header, result, outcome);
                return;
            }
            if (operation != PK_EXTRACT) return;
            ++files;
            bytes += header.unpackedSize;
            if (!terminal) Out("extracted " + Shown(header.name) + "  (" + FormatBytes(header.unpackedSize) + ")\n");
        });
    progress.Finish();
    ProgressDisplay::current = nullptr;

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f s", seconds);
    Out("Extracted " + Count(files, "file", "files") + " and " + Count(directories, "directory", "directories") + ", " +
        Count(bytes, "byte", "bytes") + " (" + FormatBytes(bytes) + ") in " + elapsed + "\n");
    if (outcome.failures > 0) Out(Count(uint64_t(outcome.failures), "entry", "entries") + " failed\n");
    return Combine(status, outcome);
}

}  // namespace wcxhost
