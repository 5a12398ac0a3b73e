#include "Options.h"

namespace wcxhost {

const char kUsage[] =
    "usage: wcxhost [OPTIONS] list|test|extract|probe PLUGIN ARCHIVE [DEST]\n"
    "  list     show the archive's entries (name, sizes, date and time, attributes)\n"
    "  test     test every file of the archive (ProcessFile with PK_TEST)\n"
    "  extract  extract the archive into DEST (default: the current directory)\n"
    "  probe    ask the plug-in whether it handles ARCHIVE (CanYouHandleThisFile)\n"
    "options:\n"
    "  --ansi             use the ANSI exports instead of the wide ones\n"
    "  --password TEXT    answer the plug-in's password dialog with TEXT (without it, wcxhost\n"
    "                     asks on the console, or cancels the dialog when there is none)\n"
    "  --overwrite        extract: replace files that already exist in DEST\n"
    "  --skip-existing    extract: leave files that already exist in DEST and go on\n"
    "  --show-dialogs     leave the plug-in's dialogs and message boxes to you (Windows)\n"
    "  --version          show wcxhost's version and stop\n"
    "exit status: 0 success; 1 probe: not handled; 2 usage; 3 plug-in, archive or destination\n"
    "unusable; 4 an entry's name leads outside DEST; 5 an unknown result code; 6 an entry was\n"
    "not extracted because its target exists or another entry landed on it; 7 a name has no\n"
    "form in the ANSI code page (--ansi); otherwise the interface's result code (10-24) of the\n"
    "first failure\n";

namespace {

bool IsCommand(const std::string& word) {
    return word == "list" || word == "test" || word == "extract" || word == "probe";
}

}  // namespace

Parsed ParseArguments(const std::vector<std::string>& arguments, Options& options, std::string& problem) {
    options = Options();
    problem.clear();
    std::vector<std::string> words;
    bool overwrite = false, skip = false, optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            words.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            return Parsed::Help;
        } else if (argument == "--version") {
            return Parsed::Version;
        } else if (argument == "--ansi") {
            options.ansi = true;
        } else if (argument == "--overwrite") {
            overwrite = true;
        } else if (argument == "--skip-existing") {
            skip = true;
        } else if (argument == "--show-dialogs") {
            options.showDialogs = true;
        } else if (argument == "--password") {
            if (i + 1 == arguments.size()) {
                problem = "--password needs a text";
                return Parsed::Usage;
            }
            options.hasPassword = true;
            options.password = arguments[++i];
        } else if (argument.compare(0, 11, "--password=") == 0) {
            options.hasPassword = true;
            options.password = argument.substr(11);
        } else {
            problem = "unknown option " + argument;
            return Parsed::Usage;
        }
    }
    if (words.empty()) return Parsed::Usage;
    options.command = words[0];
    if (!IsCommand(options.command)) {
        problem = "unknown command " + options.command;
        return Parsed::Usage;
    }
    const bool extract = options.command == "extract";
    if (words.size() < 3 || words.size() > (extract ? 4u : 3u)) {
        problem = "wrong number of arguments";
        return Parsed::Usage;
    }
    if (overwrite && skip) {
        problem = "--overwrite and --skip-existing exclude each other";
        return Parsed::Usage;
    }
    if ((overwrite || skip) && !extract) {
        problem = std::string(overwrite ? "--overwrite" : "--skip-existing") + " applies to extract only";
        return Parsed::Usage;
    }
    options.existing = overwrite ? ExistingTarget::Overwrite : skip ? ExistingTarget::Skip : ExistingTarget::Keep;
    options.plugin = words[1];
    options.archive = words[2];
    if (words.size() > 3) options.destination = words[3];
    return Parsed::Run;
}

}  // namespace wcxhost
