#include "Commands.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>

#include "DestinationIndex.h"
#include "HostPlatform.h"
#include "ProgressDisplay.h"
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

// A plug-in that handles nothing because Morvane did not load the sub-module needed. (That none
// loaded at all was said when the plug-in was loaded.)
void HintAtModules(const Job& job) {
    if (job.modules.applies && job.modules.Loaded() > 0 && !job.modules.NotLoaded().empty()) {
        Err("the plug-in did not load these sub-modules named in " + ToUtf8(job.modules.iniPath) + ": " +
            job.modules.NotLoaded());
    }
}

int OpenFailure(const Plugin& plugin, const Job& job, int openResult) {
    const char* call = plugin.Ansi() ? "OpenArchive" : "OpenArchiveW";
    if (openResult == -1) {
        Err("cannot open " + Quoted(job.archive) + ": its path has no form in the ANSI code page " +
            platform::AnsiCodePage());
        return kExitAnsiName;
    }
    if (openResult == 0) {
        Err("cannot open " + Quoted(job.archive) + ": " + call + " returned no handle and OpenResult 0");
        return kExitUnknownResult;
    }
    Err("cannot open " + Quoted(job.archive) + ": " + call + " answered " + DescribeResult(openResult));
    HintAtModules(job);
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

// What a summary adds when the walk ended early: "" when it read the archive to its end.
std::string Unfinished(int walkStatus) {
    if (walkStatus == kExitOk) return std::string();
    return "the archive could not be read to its end (" +
           (IsKnownResult(walkStatus) ? DescribeResult(walkStatus) : std::string("see above")) + ")";
}

void EntryFailure(const Plugin& plugin, const Header& header, int result, Outcome& outcome) {
    const char* call = plugin.Ansi() ? "ProcessFile" : "ProcessFileW";
    if (result == -1) {
        Err(Quoted(header.name) + ": the target path has no form in the ANSI code page " + platform::AnsiCodePage());
        outcome.Fail(kExitAnsiName);
        return;
    }
    Err(Quoted(header.name) + ": " + call + " answered " + DescribeResult(result));
    outcome.Fail(ExitStatusFor(result));
}

// ---- Progress ---------------------------------------------------------------------------------

// The callbacks carry no context, and wcxhost extracts one archive at a time on one thread.
ProgressDisplay* currentProgress = nullptr;

int PK_CALL OnProgressW(PK_WCHAR* /*fileName*/, int size) {
    if (currentProgress) currentProgress->Add(size);
    return 1;
}

int PK_CALL OnProgress(char* /*fileName*/, int size) {
    if (currentProgress) currentProgress->Add(size);
    return 1;
}

std::u16string ParentOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

}  // namespace

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

int CheckRecognised(const Plugin& plugin, const Job& job) {
    if (!(plugin.Caps() & PK_CAPS_BY_CONTENT) || !plugin.CanProbe()) return kExitOk;
    if (plugin.CanYouHandle(job.archive)) return kExitOk;
    Err("cannot open " + Quoted(job.archive) + ": " + (plugin.Ansi() ? "CanYouHandleThisFile" : "CanYouHandleThisFileW") +
        " answered 0, taken as " + DescribeResult(E_UNKNOWN_FORMAT));
    HintAtModules(job);
    return E_UNKNOWN_FORMAT;
}

int Probe(const Plugin& plugin, const Job& job) {
    Out("GetPackerCaps: " + FormatCaps(plugin.Caps()) + "\n");
    const bool handled = plugin.CanYouHandle(job.archive);
    Out(std::string(plugin.Ansi() ? "CanYouHandleThisFile" : "CanYouHandleThisFileW") + ": " +
        (handled ? "yes, the plug-in handles " : "no, the plug-in does not handle ") + Quoted(job.archive) + "\n");
    if (!handled) HintAtModules(job);
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
    const std::string unfinished = Unfinished(status);
    if (!unfinished.empty()) Out("Listing incomplete: " + unfinished + "\n");
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
    std::string summary = "Tested " + Count(tested, "file", "files") + ": ";
    const std::string unfinished = Unfinished(status);
    if (outcome.failures == 0 && unfinished.empty()) {
        summary += "no errors";
    } else {
        summary += "FAILED";
        if (outcome.failures > 0) summary += ", " + Count(uint64_t(outcome.failures), "entry", "entries") + " failed";
        if (!unfinished.empty()) summary += ", " + unfinished;
    }
    Out(summary + "\n");
    return Combine(status, outcome);
}

int Extract(const Plugin& plugin, const Job& job) {
    if (!platform::MakeDirectories(job.destination)) {
        Err("cannot create the destination " + Quoted(job.destination));
        return kExitHostError;
    }
    // A first pass adds up the sizes for the progress display; a damaged header shows up again
    // in the second pass, after the entries before it were extracted.
    uint64_t totalBytes = 0, totalFiles = 0;
    bool openFailed = false;
    const int listed = Walk(
        plugin, job, PK_OM_LIST, OnProgressW, OnProgress,
        [&](const Header& header, std::u16string&, bool&) {
            if (!header.IsDirectory()) {
                totalBytes += header.unpackedSize;
                ++totalFiles;
            }
            return PK_SKIP;
        },
        nullptr, false, &openFailed);
    if (openFailed) return listed;

    const bool terminal = platform::IsTerminal(Stream::Out);
    ProgressDisplay progress(totalBytes, totalFiles, terminal, Out);
    currentProgress = &progress;
    auto report = [&](const std::string& text) {
        progress.Clear();
        Err(text);
    };
    Outcome outcome;
    uint64_t files = 0, directories = 0, bytes = 0, skipped = 0, kept = 0;
    DestinationIndex index(
        [](const std::u16string& folder, std::vector<DestinationIndex::Entry>& entries) {
            std::vector<std::pair<std::u16string, bool>> listed;
            if (!platform::ListDirectory(folder, listed)) return false;
            for (const auto& item : listed) entries.push_back({item.first, item.second});
            return true;
        },
        platform::FoldCase);
    // The files this run wrote, by identity: catches two entries landing on one file where the
    // index's folding of names falls short of the file system's.
    std::map<platform::FileIdentity, std::u16string> written;
    std::u16string lastParent;  // the folder last made for a file
    const auto started = std::chrono::steady_clock::now();
    const int status = Walk(
        plugin, job, PK_OM_EXTRACT, OnProgressW, OnProgress,
        [&](const Header& header, std::u16string& target, bool& useTarget) {
            if (!header.IsDirectory()) progress.StartFile(header.name);
            if (!TargetBelow(job.destination, header.name, target)) {
                report(Quoted(header.name) + ": not extracted, the name leads outside the destination");
                outcome.Fail(kExitUnsafeName);
                if (!header.IsDirectory()) progress.Skip(header.unpackedSize);
                return PK_SKIP;
            }
            if (header.IsDirectory()) {
                // Directories are the host's to create; the plug-in extracts files only.
                if (platform::MakeDirectories(target)) {
                    ++directories;
                    index.Wrote(target, header.name, true);
                } else {
                    report(Quoted(header.name) + ": cannot create the directory " + Quoted(target));
                    outcome.Fail(kExitHostError);
                }
                return PK_SKIP;
            }
            auto notExtracted = [&](const std::string& why, int exitStatus) {
                report(Quoted(header.name) + ": not extracted: " + why);
                outcome.Fail(exitStatus);
                progress.Skip(header.unpackedSize);
                return PK_SKIP;
            };
            if (plugin.Ansi() && platform::AnsiNameLostCharacters(header.name))
                return notExtracted("the name has characters that the ANSI code page " + platform::AnsiCodePage() +
                                        " cannot hold (shown as \"?\"); without --ansi the wide exports extract it",
                                    kExitAnsiName);
            const DestinationIndex::Found found = index.Look(target);
            if (found.exists) {
                if (found.written && !found.directory)
                    return notExtracted("it lands on the file that " + Quoted(found.writtenFor) +
                                            " was extracted to (the file system does not tell their names apart)",
                                        kExitTargetTaken);
                if (found.directory)
                    return notExtracted("a directory " + Quoted(target) + " is in the way", kExitTargetTaken);
                if (job.existing == ExistingTarget::Skip) {
                    ++skipped;
                    if (!terminal) Out("skipped   " + Shown(header.name) + "  (exists)\n");
                    progress.Skip(header.unpackedSize);
                    return PK_SKIP;
                }
                if (job.existing == ExistingTarget::Keep) {
                    ++kept;
                    return notExtracted(Quoted(target) + " exists and is kept (--overwrite replaces it, "
                                        "--skip-existing skips it)",
                                        kExitTargetTaken);
                }
                // Replaced: a read-only file would refuse the plug-in's writing.
                platform::SetReadOnly(target, false);
            }
            // The files of one folder follow each other: its parent is made once for them.
            const std::u16string parent = ParentOf(target);
            if (!parent.empty() && parent != lastParent) {
                if (platform::MakeDirectories(parent)) lastParent = parent;
                else lastParent.clear();
            }
            useTarget = true;
            return PK_EXTRACT;
        },
        [&](const Header& header, int operation, int result) {
            if (operation != PK_EXTRACT) return;
            std::u16string target;
            TargetBelow(job.destination, header.name, target);
            if (result != 0) {
                progress.Clear();
                EntryFailure(plugin, header, result, outcome);
                return;
            }
            index.Wrote(target, header.name, false);
            platform::FileIdentity identity;
            bool directory = false;
            if (platform::IdentifyFile(target, identity, directory)) {
                const auto earlier = written.emplace(identity, header.name);
                if (!earlier.second) {
                    progress.Clear();
                    Err(Quoted(header.name) + ": was written over the file that " + Quoted(earlier.first->second) +
                        " was extracted to (the file system does not tell their names apart)");
                    outcome.Fail(kExitTargetTaken);
                    return;
                }
            }
            // As a file manager does: the plug-in writes the data, the host applies the attributes.
            if ((header.attributes & 0x01) && !platform::SetReadOnly(target, true)) {
                progress.Clear();
                Err(Quoted(header.name) + ": cannot make " + Quoted(target) + " read-only");
            }
            ++files;
            bytes += header.unpackedSize;
            if (!terminal) Out("extracted " + Shown(header.name) + "  (" + FormatBytes(header.unpackedSize) + ")\n");
        });
    progress.Finish();
    currentProgress = nullptr;

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f s", seconds);
    std::string summary = "Extracted " + Count(files, "file", "files") + " and " +
                          Count(directories, "directory", "directories") + ", " + Count(bytes, "byte", "bytes") +
                          " (" + FormatBytes(bytes) + ") in " + elapsed;
    if (skipped > 0) summary += "; skipped " + Count(skipped, "file", "files") + " that existed";
    Out(summary + "\n");
    const std::string unfinished = Unfinished(status);
    if (outcome.failures > 0 || !unfinished.empty()) {
        std::string failed = "FAILED:";
        if (outcome.failures > 0) {
            failed += " " + Count(uint64_t(outcome.failures), "entry", "entries") + " not extracted";
            if (kept > 0) failed += " (" + Count(kept, "existing file", "existing files") + " kept)";
        }
        if (!unfinished.empty()) failed += std::string(outcome.failures > 0 ? ";" : "") + " " + unfinished;
        Out(failed + "\n");
    }
    return Combine(status, outcome);
}

}  // namespace wcxhost
