// wcxhost: drives a packer plug-in through its exports as a file manager does.
//   wcxhost [OPTIONS] list|test|extract|probe PLUGIN ARCHIVE [DEST]
//   wcxhost serve      (for test scripts: runs of the above, one a line of standard input)
#include <string>
#include <vector>

#include "Commands.h"
#include "HostPlatform.h"
#include "Options.h"
#include "PasswordSource.h"
#include "Plugin.h"
#include "PluginDialogs.h"
#include "PluginWindows.h"
#include "Text.h"
#if !defined(_WIN32)
#include "UnixHost.h"
#endif

using namespace wcxhost;

namespace {

int Usage(const std::string& problem) {
    if (!problem.empty()) platform::Write(platform::Stream::Err, "wcxhost: " + problem + "\n");
    platform::Write(platform::Stream::Err, kUsage);
    return kExitUsage;
}

PasswordSource::ConsoleReader ConsoleIfAny() {
    if (!platform::HasConsoleInput()) return nullptr;
    return platform::ReadSecretLine;
}

int RunCommand(const Options& options, Job& job, PasswordSource& passwords) {
    Plugin plugin;
    std::string error;
    if (!plugin.Load(job.plugin, options.ansi, options.command == "probe", error)) {
        platform::Write(platform::Stream::Err, "wcxhost: \"" + options.plugin + "\": " + error + "\n");
        return kExitHostError;
    }
    const std::string archive = options.archive;
    plugin.BeforeOpening([&passwords, archive] { passwords.StartCall(archive); });
    job.modules = CheckMorvaneModules(plugin.Path());
    // Said at once: every command fails in a way that does not name the cause.
    const std::string noModule = job.modules.NoModuleMessage();
    if (!noModule.empty()) platform::Write(platform::Stream::Err, "wcxhost: " + noModule + "\n");

    if (options.command == "probe") return Probe(plugin, job);
    const int recognised = CheckRecognised(plugin, job);
    if (recognised != kExitOk) return recognised;
    if (options.command == "list") return List(plugin, job);
    if (options.command == "test") return Test(plugin, job);
    return Extract(plugin, job);
}

// The program proper, given its arguments (without the program name) as UTF-8.
int RunHost(const std::vector<std::string>& arguments) {
    Options options;
    std::string problem;
    switch (ParseArguments(arguments, options, problem)) {
        case Parsed::Help:
            platform::Write(platform::Stream::Out, kUsage);
            return kExitOk;
        case Parsed::Version:
            platform::Write(platform::Stream::Out, "wcxhost (Morvane) " MORVANE_VERSION "\n" MORVANE_COPYRIGHT "\n");
            return kExitOk;
        case Parsed::Usage:
            return Usage(problem);
        case Parsed::Run:
            break;
    }

    Job job;
    job.plugin = platform::AbsolutePath(FromUtf8(options.plugin));
    job.archive = platform::AbsolutePath(FromUtf8(options.archive));
    job.destination = platform::AbsolutePath(FromUtf8(options.destination));
    job.existing = options.existing;

    std::string error;
    if (!platform::CheckReadableFile(job.archive, error)) {
        platform::Write(platform::Stream::Err,
                        "wcxhost: cannot read the archive \"" + options.archive + "\": " + error + "\n");
        return kExitHostError;
    }
    PasswordSource passwords(options.hasPassword, options.password, ConsoleIfAny());
    PluginDialogs dialogs(passwords);
#if defined(_WIN32)
    if (options.showDialogs) return RunCommand(options, job, passwords);
    // The watch outlives the plug-in: it may show a window while it loads or is released.
    PluginWindowWatch watch(dialogs);
#else
    AnswerDialogsWith(dialogs);  // the dialogs lent through ExtensionInitialize
#endif
    return RunCommand(options, job, passwords);
}

// `wcxhost serve`: one run a request, so that a test pays for one process start instead of one a
// run (under an emulator a start costs a minute). A request is a line of fields separated by
// tabs: the working directory, the file for the run's output, the file for its errors, then the
// arguments. The answer is the run's exit status on a line of its own.
int Serve() {
    std::string line;
    while (platform::ReadRequestLine(line)) {
        std::vector<std::string> fields;
        for (size_t start = 0;;) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        int status = kExitUsage;
        if (fields.size() >= 3 && platform::ChangeDirectory(FromUtf8(fields[0])) &&
            platform::RedirectOutput(FromUtf8(fields[1]), FromUtf8(fields[2]))) {
            status = RunHost(std::vector<std::string>(fields.begin() + 3, fields.end()));
            platform::RestoreOutput();
        }
        platform::Answer(std::to_string(status) + "\n");
    }
    return kExitOk;
}

int Start(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments[0] == "serve" ? Serve() : RunHost(arguments);
}

}  // namespace

#if defined(_WIN32)
// Built with -municode: the arguments arrive as UTF-16 whatever the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument(argv[i]);
        arguments.push_back(ToUtf8(std::u16string(argument.begin(), argument.end())));
    }
    return Start(arguments);
}
#else
int main(int argc, char** argv) { return Start(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
