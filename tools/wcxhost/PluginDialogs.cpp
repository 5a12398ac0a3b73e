#include "PluginDialogs.h"

#include "HostPlatform.h"
#include "Text.h"

namespace wcxhost {

bool PluginDialogs::AnswerPassword(std::string& text) {
    std::string why;
    if (passwords_.Answer(text, why)) return true;
    platform::Write(platform::Stream::Err, "wcxhost: cancelled the plug-in's password dialog: " + why + "\n");
    return false;
}

void PluginDialogs::ReportMessage(const std::u16string& caption, const std::u16string& text) {
    platform::Write(platform::Stream::Err, MessageText(caption, text));
}

std::string PluginDialogs::MessageText(const std::u16string& caption, const std::u16string& text) {
    std::string body;
    const std::string utf8 = ToUtf8(text);
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r') {
            body += '\n';
            if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
        } else {
            body += utf8[i];
        }
    }
    if (body.empty() || body.back() != '\n') body += '\n';
    return "wcxhost: the plug-in showed a message box \"" + ToUtf8(caption) + "\", closed by wcxhost:\n" + body;
}

}  // namespace wcxhost
