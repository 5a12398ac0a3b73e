// What wcxhost does when the plug-in turns to the user: a password request is answered from the
// PasswordSource or cancelled with the reason on stderr; the text of a message box goes to
// stderr. Portable: the Windows window watcher calls it for the plug-in's real windows, and the
// host callbacks of another platform can call it for theirs.
#pragma once

#include <string>

#include "PasswordSource.h"

namespace wcxhost {

class PluginDialogs {
public:
    explicit PluginDialogs(PasswordSource& passwords) : passwords_(passwords) {}

    // True with the text to type; false to cancel (the reason is printed).
    bool AnswerPassword(std::string& text);
    // A message box or another dialog that wcxhost closes: its caption and text, on stderr.
    void ReportMessage(const std::u16string& caption, const std::u16string& text);

    // A message as it is printed: line ends made "\n", one at the end.
    static std::string MessageText(const std::u16string& caption, const std::u16string& text);

private:
    PasswordSource& passwords_;
};

}  // namespace wcxhost
