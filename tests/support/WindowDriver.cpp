#include "support/WindowDriver.h"

#include <windows.h>

#include <chrono>

namespace testing_support {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(5);
constexpr auto kGiveUp = std::chrono::seconds(20);

std::u16string WindowText(HWND window) {
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

bool HasStyle(HWND window, LONG style) { return window && (GetWindowLongW(window, GWL_STYLE) & style) == style; }

struct CaptionSearch {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchOwnWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<CaptionSearch*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return TRUE;
    wchar_t text[64] = {};
    GetWindowTextW(window, text, 64);
    if (lstrcmpW(text, search.caption) != 0) return TRUE;
    search.found = window;
    return FALSE;
}

// Only this process's windows: another test program may show a window with the same caption.
HWND FindOwnWindow(const wchar_t* caption) {
    CaptionSearch search{caption, nullptr};
    EnumWindows(MatchOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void WaitUntilGone(HWND window) {
    const auto deadline = std::chrono::steady_clock::now() + kGiveUp;
    while (IsWindow(window) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kPoll);
}

}  // namespace

PasswordDialogDriver::PasswordDialogDriver(std::vector<Answer> answers)
    : answers_(std::move(answers)), thread_([this] { Run(); }) {}

PasswordDialogDriver::~PasswordDialogDriver() {
    stop_ = true;
    thread_.join();
}

void PasswordDialogDriver::Run() {
    while (!stop_) {
        HWND dialog = FindOwnWindow(L"Enter password:");
        // Found as soon as it is created: wait until its controls exist and it is shown.
        if (!dialog || !IsWindowVisible(dialog)) {
            std::this_thread::sleep_for(kPoll);
            continue;
        }
        const int index = shown_++;
        HWND edit = GetDlgItem(dialog, 1001);
        wchar_t className[32] = {};
        GetClassNameW(edit, className, 32);
        // (The dialog manager turns an edit box's WS_BORDER into a client edge, so it is not checked.)
        if (!HasStyle(edit, ES_PASSWORD | ES_AUTOHSCROLL | WS_TABSTOP) || lstrcmpiW(className, L"Edit") != 0 ||
            WindowText(GetDlgItem(dialog, IDOK)) != u"OK" || WindowText(GetDlgItem(dialog, IDCANCEL)) != u"Cancel" ||
            !HasStyle(GetDlgItem(dialog, IDOK), BS_DEFPUSHBUTTON))
            controlsOk_ = false;
        const bool cancel = index >= int(answers_.size()) || answers_[index].cancel;
        if (!cancel) SetDlgItemTextA(dialog, 1001, answers_[index].text.c_str());
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(cancel ? IDCANCEL : IDOK, BN_CLICKED), 0);
        WaitUntilGone(dialog);
    }
}

ReportBoxWatcher::ReportBoxWatcher(const wchar_t* caption)
    : caption_(caption), thread_([this] {
          while (!stop_) {
              HWND box = FindOwnWindow(caption_);
              if (!box || !IsWindowVisible(box)) {  // its text control exists once it is shown
                  std::this_thread::sleep_for(kPoll);
                  continue;
              }
              // A message box shows its text in the static control 0xFFFF.
              text_ = WindowText(GetDlgItem(box, 0xFFFF));
              seen_ = true;
              ++shown_;
              PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
              WaitUntilGone(box);
          }
      }) {}

ReportBoxWatcher::~ReportBoxWatcher() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool ReportBoxWatcher::Finish(std::u16string& text) {
    // A box appears inside LoadLibrary, which has returned by now; a short grace covers a slow one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (!seen_ && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kPoll);
    stop_ = true;
    thread_.join();
    text = text_;
    return seen_;
}

}  // namespace testing_support
