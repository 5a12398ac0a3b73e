// The dialogs a host lends the plug-in through ExtensionInitialize (a masked input box and a
// message box), used in place of the platform's own; and the failure report, which waits for
// them when the host lends them only after loading the plug-in.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/ExtensionInterface.h"

// Keeps the host's InputBox and MessageBox, then shows a failure report that waited for them.
void AdoptHostDialogs(const tExtensionStartupInfo* startupInfo);

// Asks for a password: in the host's masked input box when it lent one, else in the platform's
// dialog. True only for OK, with at most capacity - 1 bytes and a NUL in buffer.
bool AskPasswordOfUser(void* pluginInstance, char* buffer, int32_t capacity);

// Shows the failure report now, or keeps it for the host's message box.
void ShowFailureReport(const std::u16string& text, const std::u16string& caption);
// Shows a report at once: in the host's message box when it lent one, else the platform's own.
void ShowReportNow(const std::u16string& text, const std::u16string& caption);
// A report still kept goes to the platform's own report (stderr on Linux): the host lends no
// dialogs, since it already uses the plug-in without having called ExtensionInitialize.
void ReleasePendingReport();
