#include "UnixHost.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "HostPlatform.h"
#include "PluginDialogs.h"
#include "Text.h"
#include "plugin/ExtensionInterface.h"

namespace wcxhost {
namespace {

PluginDialogs* lentDialogs = nullptr;

int32_t InputBox(char* /*caption*/, char* /*prompt*/, int32_t /*mask*/, char* value, int32_t maxLength) {
    std::string answer;
    if (!lentDialogs || !lentDialogs->AnswerPassword(answer)) return 0;
    // As Double Commander copies: at most maxLength bytes, then a terminator.
    const size_t length = std::min(answer.size(), size_t(maxLength > 0 ? maxLength : 0));
    std::memcpy(value, answer.data(), length);
    value[length] = '\0';
    return 1;
}

int32_t MessageBox(char* text, char* caption, int32_t /*flags*/) {
    const std::u16string captionText = FromUtf8(caption ? caption : ""), bodyText = FromUtf8(text ? text : "");
    if (lentDialogs) lentDialogs->ReportMessage(captionText, bodyText);
    else platform::Write(platform::Stream::Err, PluginDialogs::MessageText(captionText, bodyText));
    return EXT_ID_OK;
}

}  // namespace

int DosTimeFromUnixTime(int unixTime) {
    if (unixTime == 0) return 0;
    const time_t seconds = unixTime;
    tm local{};
    if (!localtime_r(&seconds, &local)) return 0;
    const unsigned year = unsigned(local.tm_year + 1900 - 1980) & 0x7F;
    return int(year << 25 | unsigned(local.tm_mon + 1) << 21 | unsigned(local.tm_mday) << 16 |
               unsigned(local.tm_hour) << 11 | unsigned(local.tm_min) << 5 | unsigned(local.tm_sec) / 2);
}

int AttributesFromUnixMode(int mode) {
    int attributes = 0;
    const int type = mode & 0170000;
    if (type == 0040000) attributes |= 0x10;
    else if (type == 0120000) attributes |= 0x400;
    else attributes |= 0x20;
    if (!(mode & 0200)) attributes |= 0x01;
    return attributes;
}

void AnswerDialogsWith(PluginDialogs& dialogs) { lentDialogs = &dialogs; }

void LendDialogs(void* library) {
    auto initialize = reinterpret_cast<tExtensionInitializeFunction>(platform::FindExport(library, "ExtensionInitialize"));
    if (!initialize) return;
    // As large as the host's record: the plug-in may read its reserved part.
    std::vector<unsigned char> record(sizeof(tExtensionStartupInfo) + 4096 * sizeof(void*), 0);
    tExtensionStartupInfo info{};
    info.StructSize = uint32_t(record.size());
    info.InputBox = InputBox;
    info.MessageBox = MessageBox;
    std::memcpy(record.data(), &info, sizeof info);
    initialize(reinterpret_cast<tExtensionStartupInfo*>(record.data()));
}

}  // namespace wcxhost
