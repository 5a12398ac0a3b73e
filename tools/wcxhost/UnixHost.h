// wcxhost as a Unix host (Double Commander's dialect): what the header's FileTime and FileAttr
// mean there, and the dialogs it lends the plug-in through ExtensionInitialize.
#pragma once

#include <string>

namespace wcxhost {

// A header's Unix time (UTC) as the DOS stamp in local time that wcxhost shows; 0 stays 0.
int DosTimeFromUnixTime(int unixTime);
// A header's st_mode as the Windows attribute bits that wcxhost shows (d, r and a).
int AttributesFromUnixMode(int mode);

class PluginDialogs;

// What answers the dialogs lent to the plug-in from now on.
void AnswerDialogsWith(PluginDialogs& dialogs);
// Calls the plug-in's ExtensionInitialize, when it has one, with wcxhost's InputBox and
// MessageBox, both answered by the PluginDialogs given to AnswerDialogsWith (without one, the
// prompt is cancelled and the message printed).
void LendDialogs(void* library);

}  // namespace wcxhost
