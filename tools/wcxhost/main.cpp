// wcxhost: drives a packer plug-in through its exports as a file manager does.
//   wcxhost [--ansi] list|test|extract|probe PLUGIN ARCHIVE [DEST]
#include <string>
#include <vector>

#include "Commands.h"
#include "HostPlatform.h"
#include "Plugin.h"
#include "Text.h"
#if !defined(_WIN32)
#include "UnixHost.h"
#endif

using namespace wcxhost;

namespace {

const char kUsage[] =
    "usage: wcxhost [--ansi] [--password TEXT] list|test|extract|probe PLUGIN ARCHIVE [DEST]\n"
    "  list     show the archive's entries (name, sizes, date and time, attributes)\n"
    "  test     test every file of the archive (ProcessFile with PK_TEST)\n"
    "  extract  extract the archive into DEST (default: the current directory)\n"
    "  probe    ask the plug-in whether it handles ARCHIVE (CanYouHandleThisFile)\n"
    "  --ansi   use the ANSI exports instead of the wide ones\n"
    "  --password TEXT  answer the plug-in's password prompt with TEXT\n"
    "exit status: 0 success; 1 probe: not handled; 2 usage; 3 plug-in, archive or destination\n"
    "unusable; 4 an entry's name leads outside DEST; 5 an unknown result code; otherwise the\n"
    "interface's result code (10-24) of the first failure\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) platform::Write(platform::Stream::Err, "wcxhost: " + problem + "\n");
    platform::Write(platform::Stream::Err, kUsage);
    return kExitUsage;
}

}  // namespace

int RunHost(const std::vector<std::string>& arguments) {
    bool ansi = false;
    std::vector<std::string> words;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--ansi") {
            ansi = true;
#if !defined(_WIN32)
        } else if (argument == "--password") {
            if (++i == arguments.size()) return Usage("--password needs a text");
            SetPasswordAnswer(arguments[i]);
#endif
        } else if (argument == "--help" || argument == "-h") {
            platform::Write(platform::Stream::Out, kUsage);
            return kExitOk;
        } else if (argument.size() > 1 && argument[0] == '-' && argument[1] == '-') {
            return Usage("unknown option " + argument);
        } else {
            words.push_back(argument);
        }
    }
    if (words.empty()) return Usage("");
    const std::string command = words[0];
    const bool extract = command == "extract";
    if (command != "list" && command != "test" && command != "probe" && !extract)
        return Usage("unknown command " + command);
    if (words.size() < 3 || words.size() > (extract ? 4u : 3u)) return Usage("wrong number of arguments");

    Job job;
    job.plugin = platform::AbsolutePath(FromUtf8(words[1]));
    job.archive = platform::AbsolutePath(FromUtf8(words[2]));
    job.destination = platform::AbsolutePath(FromUtf8(words.size() > 3 ? words[3] : std::string(".")));

    std::string error;
    if (!platform::CheckReadableFile(job.archive, error)) {
        platform::Write(platform::Stream::Err, "wcxhost: cannot read the archive \"" + words[2] + "\": " + error + "\n");
        return kExitHostError;
    }
    Plugin plugin;
    if (!plugin.Load(job.plugin, ansi, command == "probe", error)) {
        platform::Write(platform::Stream::Err, "wcxhost: \"" + words[1] + "\": " + error + "\n");
        return kExitHostError;
    }
    if (command == "probe") return Probe(plugin, job);
    const int recognised = CheckRecognised(plugin, job);
    if (recognised != kExitOk) return recognised;
    if (command == "list") return List(plugin, job);
    if (command == "test") return Test(plugin, job);
    return Extract(plugin, job);
}
