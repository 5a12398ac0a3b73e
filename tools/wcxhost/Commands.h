// The four commands. Each answers the program's exit status.
#pragma once

#include <string>

#include "ModuleCheck.h"
#include "Options.h"
#include "Plugin.h"

namespace wcxhost {

// Exit statuses besides the interface's result codes (10 to 24), which report the first failure.
constexpr int kExitOk = 0;
constexpr int kExitNotHandled = 1;   // probe: the plug-in does not handle the file
constexpr int kExitUsage = 2;
constexpr int kExitHostError = 3;    // plug-in, export, archive or destination unusable
constexpr int kExitUnsafeName = 4;   // an entry's name would leave the destination
constexpr int kExitUnknownResult = 5;  // the plug-in answered a code outside the interface
constexpr int kExitTargetTaken = 6;  // a target existed, or two entries landed on one file
constexpr int kExitAnsiName = 7;     // a name or path has no form in the ANSI code page

struct Job {
    std::u16string plugin;
    std::u16string archive;
    std::u16string destination;
    ExistingTarget existing = ExistingTarget::Keep;
    ModuleCheck modules;  // what the plug-in loaded, for the hint when nothing claims the archive
};

int Probe(const Plugin& plugin, const Job& job);
int List(const Plugin& plugin, const Job& job);
int Test(const Plugin& plugin, const Job& job);
int Extract(const Plugin& plugin, const Job& job);

// Before opening: a plug-in that recognises archives by content is asked first.
int CheckRecognised(const Plugin& plugin, const Job& job);

// The entry's path below the destination, or false when it would leave it (absolute, a drive,
// or a ".." component).
bool TargetBelow(const std::u16string& destination, const std::u16string& name, std::u16string& target);

}  // namespace wcxhost
