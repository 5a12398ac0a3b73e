// wcxhost's command line: the command, its paths and the options that change how it runs.
#pragma once

#include <string>
#include <vector>

namespace wcxhost {

// What extract does with a target that already exists in DEST.
enum class ExistingTarget {
    Keep,       // the default: not extracted, reported, and the run fails
    Overwrite,  // --overwrite: replaced
    Skip,       // --skip-existing: not extracted, counted as skipped
};

struct Options {
    std::string command;  // list, test, extract or probe
    std::string plugin;
    std::string archive;
    std::string destination = ".";
    bool ansi = false;
    bool hasPassword = false;
    std::string password;  // with hasPassword: the text for the plug-in's password dialog
    ExistingTarget existing = ExistingTarget::Keep;
    bool showDialogs = false;  // leave the plug-in's windows to the user
};

enum class Parsed { Run, Help, Version, Usage };

// Usage: `problem` says what is wrong (empty when nothing was given at all).
Parsed ParseArguments(const std::vector<std::string>& arguments, Options& options, std::string& problem);

extern const char kUsage[];

}  // namespace wcxhost
