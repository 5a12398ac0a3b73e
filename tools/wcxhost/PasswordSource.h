// Where the answer to a plug-in's password request comes from: the --password text, a line typed
// on the console, or nowhere (the request is cancelled). Portable: the Windows window watcher and
// a host callback of another platform ask it the same way, from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace wcxhost {

class PasswordSource {
public:
    // Shows the prompt and reads one line without echo; false when nothing could be read.
    using ConsoleReader = std::function<bool(const std::string& prompt, std::string& line)>;

    // `given`: the --password text when hasGiven. `console`: empty when there is no console.
    PasswordSource(bool hasGiven, std::string given, ConsoleReader console);

    // One call into the plug-in that may open the archive begins: the plug-in asks again within
    // it only when the answer before was refused.
    void StartCall(const std::string& archive);

    // The plug-in asks. True with the text to answer; false to cancel, with the reason in `why`.
    bool Answer(std::string& text, std::string& why);

    // Typed passwords a single call may ask for before wcxhost gives up.
    static constexpr int kConsoleTries = 3;

private:
    std::mutex mutex_;
    const bool hasGiven_;
    const std::string given_;
    const ConsoleReader console_;
    std::string archive_;
    int asked_ = 0;  // requests in the current call
};

}  // namespace wcxhost
