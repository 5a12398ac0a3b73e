#include "PasswordSource.h"

#include <utility>

namespace wcxhost {

PasswordSource::PasswordSource(bool hasGiven, std::string given, ConsoleReader console)
    : hasGiven_(hasGiven), given_(std::move(given)), console_(std::move(console)) {}

void PasswordSource::StartCall(const std::string& archive) {
    std::lock_guard<std::mutex> lock(mutex_);
    archive_ = archive;
    asked_ = 0;
}

bool PasswordSource::Answer(std::string& text, std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int attempt = ++asked_;
    text.clear();
    why.clear();
    if (hasGiven_) {
        // Asked again in the same call: the plug-in refused it, and repeating it cannot help.
        if (attempt == 1) {
            text = given_;
            return true;
        }
        why = "the plug-in refused the password given with --password";
        return false;
    }
    if (!console_) {
        why = "the archive needs a password: give it with --password TEXT, or run wcxhost on a console to type it";
        return false;
    }
    if (attempt > kConsoleTries) {
        why = "the plug-in refused " + std::to_string(kConsoleTries) + " passwords";
        return false;
    }
    const std::string prompt =
        attempt == 1 ? "Password for \"" + archive_ + "\": "
                     : "Wrong password, try again (" + std::to_string(attempt) + " of " +
                           std::to_string(kConsoleTries) + "): ";
    if (!console_(prompt, text)) {
        text.clear();
        why = "no password was typed";
        return false;
    }
    return true;
}

}  // namespace wcxhost
