#include "plugin/HostDialogs.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "plugin/HostDialect.h"
#include "platform/Platform.h"
#include "text/Utf8.h"

namespace {

constexpr char kPasswordCaption[] = "Enter password:";

// Written when the host hands them over, read by any thread afterwards.
std::atomic<tInputBoxProc> hostInputBox{nullptr};
std::atomic<tMessageBoxProc> hostMessageBox{nullptr};

// Built on first use: the report is kept from the library's constructor, which may run before
// this file's own static objects are constructed.
struct PendingReport {
    platform::Lock lock;
    bool pending = false;
    std::u16string text, caption;
};
PendingReport& Pending() {
    static PendingReport report;
    return report;
}

bool TakePendingReport(std::u16string& text, std::u16string& caption) {
    PendingReport& report = Pending();
    std::lock_guard<platform::Lock> lock(report.lock);
    if (!report.pending) return false;
    report.pending = false;
    text.swap(report.text);
    caption.swap(report.caption);
    return true;
}

}  // namespace

void AdoptHostDialogs(const tExtensionStartupInfo* startupInfo) {
    // A record too short to hold both functions is from a host that lends neither.
    if (!startupInfo || startupInfo->StructSize < sizeof(tExtensionStartupInfo)) return;
    hostInputBox = startupInfo->InputBox;
    hostMessageBox = startupInfo->MessageBox;
    std::u16string text, caption;
    const tMessageBoxProc messageBox = hostMessageBox;
    if (!messageBox || !TakePendingReport(text, caption)) return;
    std::string utf8Text = text::ToUtf8(text), utf8Caption = text::ToUtf8(caption);
    messageBox(&utf8Text[0], &utf8Caption[0], EXT_MB_OK);
}

bool AskPasswordOfUser(void* pluginInstance, char* buffer, int32_t capacity) {
    const tInputBoxProc inputBox = hostInputBox;
    if (!inputBox) return platform::AskPassword(pluginInstance, buffer, capacity);
    if (capacity < 1) return false;
    std::memset(buffer, 0, size_t(capacity));
    char caption[sizeof kPasswordCaption];
    std::memcpy(caption, kPasswordCaption, sizeof caption);
    char prompt[] = "";
    // The host copies up to ValueMaxLen bytes and then a terminator: one byte is kept for it.
    if (inputBox(caption, prompt, 1, buffer, capacity - 1) == 0) return false;
    buffer[capacity - 1] = '\0';
    return true;
}

void ShowFailureReport(const std::u16string& text, const std::u16string& caption) {
    if (!this_host::kLendsDialogsAfterLoad) {
        platform::ShowReport(text, caption);
        return;
    }
    PendingReport& report = Pending();
    std::lock_guard<platform::Lock> lock(report.lock);
    report.text = text;
    report.caption = caption;
    report.pending = true;
}

void ShowReportNow(const std::u16string& text, const std::u16string& caption) {
    const tMessageBoxProc messageBox = hostMessageBox;
    if (!messageBox) {
        platform::ShowReport(text, caption);
        return;
    }
    std::string utf8Text = text::ToUtf8(text), utf8Caption = text::ToUtf8(caption);
    messageBox(&utf8Text[0], &utf8Caption[0], EXT_MB_OK);
}

void ReleasePendingReport() {
    std::u16string text, caption;
    if (TakePendingReport(text, caption)) platform::ShowReport(text, caption);
}
