// modcheck: loads one sub-module library directly, without Morvane, and checks it against the
// sub-module contract (src/modules/SubModuleContract.h), one line per rule.
//   modcheck [--setting KEY=VALUE]... [--password TEXT] [--work DIR] MODULE [ARCHIVE...]
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ArchiveChecks.h"
#include "CallUnderWay.h"
#include "CheckSystem.h"
#include "Report.h"
#include "SubModuleLibrary.h"
#include "text/Utf8.h"

using namespace modcheck;
namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: modcheck [--setting KEY=VALUE]... [--password TEXT] [--work DIR] MODULE [ARCHIVE...]\n"
    "Loads the sub-module library MODULE as Morvane does and checks it against the sub-module\n"
    "contract: its exports, LoadSubModule with an empty and with a non-empty settings text, files\n"
    "that are not archives, and for each ARCHIVE a listing and extraction alone, two containers on\n"
    "two threads at once, and the files it leaves open. One line per rule: PASS, FAIL or SKIP.\n"
    "  --setting KEY=VALUE  one line of the module's settings text (its INI section); repeatable.\n"
    "                       Without any, the text is \"ModCheck=1\", a key no module knows.\n"
    "  --password TEXT      the password for encrypted ARCHIVEs\n"
    "  --work DIR           where the scratch folder is made (default: the system's temporary folder)\n"
    "  --version            show the version and stop\n"
    "exit status: 0 every rule ran and passed; 1 a rule failed or did not run; 2 usage\n";

constexpr size_t kForeignSize = 64 * 1024;

struct Options {
    std::u16string module;
    std::vector<std::u16string> archives;
    std::vector<std::u16string> settings;
    bool hasPassword = false;
    std::string password;
    std::u16string work;
};

int Usage(const std::string& problem) {
    sys::WriteOutput("modcheck: " + problem + "\n" + kUsage);
    return 2;
}

// False with a reason when the arguments make no sense.
bool ParseOptions(const std::vector<std::u16string>& arguments, Options& options, std::string& problem) {
    std::vector<std::u16string> words;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        const bool takesValue = argument == u"--setting" || argument == u"--password" || argument == u"--work";
        if (takesValue && i + 1 >= arguments.size()) {
            problem = text::ToUtf8(argument) + " needs a value";
            return false;
        }
        if (argument == u"--setting") {
            const std::u16string& item = arguments[++i];
            if (item.find(u'=') == std::u16string::npos || item.front() == u'=') {
                problem = "--setting takes KEY=VALUE, not \"" + text::ToUtf8(item) + "\"";
                return false;
            }
            options.settings.push_back(item);
        } else if (argument == u"--password") {
            options.hasPassword = true;
            options.password = sys::PasswordBytes(arguments[++i]);
        } else if (argument == u"--work") {
            options.work = arguments[++i];
        } else if (argument.size() > 1 && argument[0] == u'-' && argument[1] == u'-') {
            problem = "unknown option " + text::ToUtf8(argument);
            return false;
        } else {
            words.push_back(argument);
        }
    }
    if (words.empty()) {
        problem = "no MODULE given";
        return false;
    }
    options.module = words[0];
    options.archives.assign(words.begin() + 1, words.end());
    return true;
}

// An empty folder of our own under `parent` (the system's temporary folder when empty).
bool MakeScratch(const std::u16string& parent, fs::path& scratch) {
    std::error_code error;
    const fs::path base = parent.empty() ? fs::temp_directory_path(error) : fs::absolute(sys::FilePath(parent), error);
    if (error) return false;
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        scratch = base / ("modcheck-" + std::to_string(seed() % 1000000000u));
        if (fs::create_directories(scratch, error)) return true;
    }
    return false;
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    file.close();
    return !file.fail();
}

std::string PlainText() {
    std::string text;
    for (int line = 1; text.size() < kForeignSize; ++line)
        text += "Line " + std::to_string(line) + " of a plain text file that no container format should claim.\n";
    return text;
}

// The same bytes on every run and every system: mt19937's sequence is fixed by the standard.
std::string RandomBytes() {
    std::mt19937 generator(20240229u);
    std::string bytes(kForeignSize, '\0');
    for (char& byte : bytes) byte = char(generator() & 0xFF);
    return bytes;
}

// A file that is no archive: OpenProc must answer 0, leave the handle null and keep nothing open.
void CheckForeignFile(Report& report, const std::string& rule, const fs::path& file, const SubModuleInterface& operations) {
    const std::u16string path = sys::PathText(file);
    OpenRequest request{};
    request.ArchivePath = reinterpret_cast<const SM_WCHAR*>(path.c_str());
    ContainerHandle handle = nullptr;
    int owner = 0;
    const std::string shown = text::ToUtf8(sys::PathText(file.filename()));
    const int32_t answer = CallModule("OpenProc of " + shown, [&] { return operations.OpenProc(request, &handle, &owner); });

    std::vector<std::string> problems;
    if (answer != SM_OPEN_NOT_MINE) problems.push_back("OpenProc answered " + std::to_string(answer) + ", expected 0");
    if (answer == SM_OPEN_OK && handle) {
        CallModule("CloseProc of " + shown, [&] { return operations.CloseProc(handle); });
    } else if (handle) {
        problems.push_back("OpenProc left a handle although it answered " + std::to_string(answer) +
                           ": nothing would ever close it");
    }
    if (sys::IsOpenInProcess(file)) problems.push_back("the file is still open after OpenProc answered");
    report.Verdict(rule, "", problems, "OpenProc answered 0 for " + shown + ", left the handle null and kept nothing open");
}

// Everything after the load with the settings text: the foreign files, the archives, the unload.
void CheckOperations(Report& report, SubModuleLibrary& library, const SubModuleInterface& operations,
                     const Options& options, const fs::path& scratch) {
    CheckForeignFile(report, "foreign-text", scratch / "not-an-archive.txt", operations);
    CheckForeignFile(report, "foreign-random", scratch / "random.bin", operations);
    ArchiveChecks archives(report, operations, scratch, scratch / "canary", options.hasPassword ? &options.password : nullptr);
    int number = 0;
    for (const std::u16string& archive : options.archives) archives.Run(archive, ++number);
    library.Unload();
    report.Pass("unload", "", "UnloadSubModule answered, after every other call");
}

void SkipOperations(Report& report, const Options& options, const std::string& reason) {
    report.Skip("foreign-text", "", reason);
    report.Skip("foreign-random", "", reason);
    for (const std::u16string& archive : options.archives)
        ArchiveChecks::SkipAll(report, text::ToUtf8(sys::PathText(sys::FilePath(archive).filename())), reason);
    report.Skip("unload", "", reason);
}

}  // namespace

int RunModcheck(const std::vector<std::u16string>& arguments) {
    for (const std::u16string& argument : arguments) {
        if (argument == u"--help" || argument == u"-h") {
            sys::WriteOutput(kUsage);
            return 0;
        }
        if (argument == u"--version") {
            sys::WriteOutput("modcheck (Morvane) " MORVANE_VERSION "\n" MORVANE_COPYRIGHT "\n");
            return 0;
        }
    }
    Options options;
    std::string problem;
    if (!ParseOptions(arguments, options, problem)) return Usage(problem);
    fs::path scratch;
    if (!MakeScratch(options.work, scratch) || !WriteFile(scratch / "not-an-archive.txt", PlainText()) ||
        !WriteFile(scratch / "random.bin", RandomBytes()) || !WriteFile(scratch / "canary", "modcheck\n")) {
        sys::WriteOutput("modcheck: cannot make a scratch folder with its files\n");
        return 2;
    }
    sys::InstallCrashReport();

    Report report;
    const std::string module = text::ToUtf8(options.module);
    report.Note("checking " + module + " (modcheck " MORVANE_VERSION ")");
    const std::vector<std::u16string> settings =
        options.settings.empty() ? std::vector<std::u16string>{u"ModCheck=1"} : options.settings;
    {
        // First load: the exports, and LoadSubModule with an empty settings text.
        SubModuleLibrary library;
        std::string error;
        if (!library.Open(options.module, error)) {
            report.Fail("library", "", "cannot load " + module + ": " + error);
            report.Skip("exports", "", "the library did not load");
        } else {
            report.Pass("library", "", "loaded " + module);
            if (!library.HasBothExports()) {
                report.Fail("exports", "", library.MissingExports() + " not exported (by that exact name)");
            } else {
                report.Pass("exports", "", "LoadSubModule and UnloadSubModule are exported");
                SubModuleInterface operations;
                if (library.Load(report, "load-empty", {}, operations)) library.Unload();
            }
        }
        if (!library.HasBothExports()) {
            report.Skip("load-empty", "", "no library with both exports");
            report.Skip("load-settings", "", "no library with both exports");
            SkipOperations(report, options, "no library with both exports");
        }
    }
    {
        // Second load, with the settings text: everything else runs on it.
        SubModuleLibrary library;
        std::string error;
        SubModuleInterface operations;
        if (library.Open(options.module, error) && library.HasBothExports()) {
            if (library.Load(report, "load-settings", settings, operations))
                CheckOperations(report, library, operations, options, scratch);
            else
                SkipOperations(report, options, "LoadSubModule with the settings text did not give a usable module");
        }
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return report.Finish();
}
