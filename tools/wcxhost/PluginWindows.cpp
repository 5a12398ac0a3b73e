#include "PluginWindows.h"

#include <chrono>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "Text.h"

namespace wcxhost {

#if defined(_WIN32)

namespace {

constexpr auto kPoll = std::chrono::milliseconds(10);
// A closed window normally goes at once; a plug-in that keeps it must not stall the watch.
constexpr auto kGoneWait = std::chrono::seconds(10);

std::u16string TextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::u16string();
    std::wstring text(size_t(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, &text[0], length + 1);
    text.resize(size_t(copied > 0 ? copied : 0));
    return std::u16string(text.begin(), text.end());
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK CollectOwnDialog(HWND window, LPARAM context) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    // Only this process's windows: another program on the same display is none of our business.
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && ClassOf(window) == L"#32770")
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

struct Children {
    HWND passwordEdit = nullptr;
    std::vector<HWND> statics;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
    auto& children = *reinterpret_cast<Children*>(context);
    const std::wstring name = ClassOf(child);
    if (lstrcmpiW(name.c_str(), L"Edit") == 0 && (GetWindowLongW(child, GWL_STYLE) & ES_PASSWORD))
        children.passwordEdit = child;
    else if (lstrcmpiW(name.c_str(), L"Static") == 0 && IsWindowVisible(child))
        children.statics.push_back(child);
    return TRUE;
}

void Press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), LPARAM(GetDlgItem(dialog, button)));
}

void WaitUntilGone(HWND window) {
    const auto deadline = std::chrono::steady_clock::now() + kGoneWait;
    while (IsWindow(window) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kPoll);
}

}  // namespace

PluginWindowWatch::PluginWindowWatch(PluginDialogs& dialogs) : dialogs_(dialogs), thread_([this] { Run(); }) {
    // A thread's start takes the loader lock; started while the plug-in loads (which holds that
    // lock around the report box) it would wait for the box that it is meant to close.
    while (!running_) std::this_thread::yield();
}

PluginWindowWatch::~PluginWindowWatch() {
    stop_ = true;
    thread_.join();
}

void PluginWindowWatch::Run() {
    // The first window call of a thread may load the display driver, which takes the loader
    // lock: done now, before the plug-in is loaded.
    std::vector<HWND> dialogs;
    EnumWindows(CollectOwnDialog, reinterpret_cast<LPARAM>(&dialogs));
    running_ = true;
    // Windows already answered: one that is slow to go must not be answered twice (the second
    // answer would go to the plug-in's next request).
    std::set<HWND> answered;
    while (!stop_) {
        dialogs.clear();
        EnumWindows(CollectOwnDialog, reinterpret_cast<LPARAM>(&dialogs));
        for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        bool acted = false;
        for (HWND dialog : dialogs) {
            if (!answered.insert(dialog).second) continue;
            acted = true;
            Answer(dialog);
            WaitUntilGone(dialog);
        }
        if (!acted) std::this_thread::sleep_for(kPoll);
    }
}

void PluginWindowWatch::Answer(void* window) {
    const HWND dialog = static_cast<HWND>(window);
    Children children;
    EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
    if (children.passwordEdit) {
        std::string password;
        if (dialogs_.AnswerPassword(password)) {
            const std::u16string wide = FromUtf8(password);
            SetWindowTextW(children.passwordEdit, std::wstring(wide.begin(), wide.end()).c_str());
            Press(dialog, IDOK);
        } else {
            Press(dialog, IDCANCEL);
        }
        return;
    }
    // A message box shows its text in the static control 0xFFFF; other dialogs in their static
    // controls, in order.
    std::u16string text;
    if (HWND message = GetDlgItem(dialog, 0xFFFF)) {
        text = TextOf(message);
    } else {
        for (HWND item : children.statics) {
            const std::u16string line = TextOf(item);
            if (line.empty()) continue;
            if (!text.empty()) text += u'\n';
            text += line;
        }
    }
    dialogs_.ReportMessage(TextOf(dialog), text);
    if (GetDlgItem(dialog, IDOK)) Press(dialog, IDOK);
    else if (GetDlgItem(dialog, IDCANCEL)) Press(dialog, IDCANCEL);
    else if (GetDlgItem(dialog, IDNO)) Press(dialog, IDNO);
    else PostMessageW(dialog, WM_CLOSE, 0, 0);
}

#else  // no windows to watch: the plug-in asks through the host's callbacks instead

PluginWindowWatch::PluginWindowWatch(PluginDialogs& dialogs) : dialogs_(dialogs) {}

PluginWindowWatch::~PluginWindowWatch() = default;

void PluginWindowWatch::Run() {}

void PluginWindowWatch::Answer(void*) {}

#endif

}  // namespace wcxhost
