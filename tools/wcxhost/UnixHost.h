// wcxhost as a Unix host (Double Commander's dialect): what the header's FileTime and FileAttr
// mean there, and the dialogs it lends the plug-in through ExtensionInitialize.
#pragma once

#include <string>

namespace wcxhost {

// A header's Unix time (UTC) as the DOS stamp in local time that wcxhost shows; 0 stays 0.
int DosTimeFromUnixTime(int unixTime);
// A header's st_mode as the Windows attribute bits that wcxhost shows (d, r and a).
int AttributesFromUnixMode(int mode);

// The text that the password prompt answers with, instead of asking on the terminal.
void SetPasswordAnswer(const std::string& password);
// Calls the plug-in's ExtensionInitialize, when it has one, with wcxhost's InputBox (the
// --password text, else a prompt on the terminal without echo, else a cancel) and MessageBox
// (the caption and the text on stderr).
void LendDialogs(void* library);

}  // namespace wcxhost
