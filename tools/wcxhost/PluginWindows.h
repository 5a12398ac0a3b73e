// Watches this process's windows while the plug-in is loaded and driven, so that a modal window
// of the plug-in never waits for a user who cannot see it (Wine's null display, a script): its
// password dialog is answered through PluginDialogs, and any other dialog or message box is
// reported and closed. Started before the plug-in is loaded (a report shown while it loads needs
// it already) and stopped after the plug-in is released. On platforms without such windows it
// does nothing.
#pragma once

#include <atomic>
#include <thread>

#include "PluginDialogs.h"

namespace wcxhost {

class PluginWindowWatch {
public:
    explicit PluginWindowWatch(PluginDialogs& dialogs);
    ~PluginWindowWatch();
    PluginWindowWatch(const PluginWindowWatch&) = delete;
    PluginWindowWatch& operator=(const PluginWindowWatch&) = delete;

private:
    void Run();
    void Answer(void* window);  // a dialog of the plug-in's (HWND)
    PluginDialogs& dialogs_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace wcxhost
