// Drives the plug-in's real windows from a test thread: the password dialog and the failure
// report. Every wait has a timeout, so a test never hangs.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// Answers each password dialog in turn: types the text and presses OK, or presses Cancel.
// Dialogs beyond the script are cancelled and counted.
class PasswordDialogDriver {
public:
    struct Answer {
        std::string text;
        bool cancel = false;
    };
    explicit PasswordDialogDriver(std::vector<Answer> answers);
    ~PasswordDialogDriver();

    int Shown() const { return shown_; }
    // Whether every dialog seen had a masked (ES_PASSWORD) edit box and the expected controls.
    bool ControlsAsExpected() const { return controlsOk_; }

private:
    void Run();
    std::vector<Answer> answers_;
    std::atomic<int> shown_{0};
    std::atomic<bool> controlsOk_{true};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Waits for the plug-in's report boxes with this caption, reads their text and dismisses them.
class ReportBoxWatcher {
public:
    explicit ReportBoxWatcher(const wchar_t* caption = L"Morvane failed modules:");
    ~ReportBoxWatcher();
    // Stops watching after a grace period; answers the text of the last box, if one was shown.
    bool Finish(std::u16string& text);
    int Shown() const { return shown_; }

private:
    const wchar_t* caption_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    std::atomic<int> shown_{0};
    std::u16string text_;
    std::thread thread_;
};

}  // namespace testing_support
