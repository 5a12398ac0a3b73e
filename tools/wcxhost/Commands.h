// The four commands. Each answers the program's exit status.
#pragma once

#include <string>

#include "Plugin.h"

namespace wcxhost {

// Exit statuses besides the interface's result codes (10 to 24), which report the first failure.
constexpr int kExitOk = 0;
constexpr int kExitNotHandled = 1;   // probe: the plug-in does not handle the file
constexpr int kExitUsage = 2;
constexpr int kExitHostError = 3;    // plug-in, export, archive or destination unusable
constexpr int kExitUnsafeName = 4;   // an entry's name would leave the destination
constexpr int kExitUnknownResult = 5;  // the plug-in answered a code outside the interface

struct Job {
    std::u16string plugin;
    std::u16string archive;
    std::u16string destination;
};

int Probe(const Plugin& plugin, const Job& job);
int List(const Plugin& plugin, const Job& job);
int Test(const Plugin& plugin, const Job& job);
int Extract(const Plugin& plugin, const Job& job);

// Before opening: a plug-in that recognises archives by content is asked first.
int CheckRecognised(const Plugin& plugin, const Job& job);

}  // namespace wcxhost
