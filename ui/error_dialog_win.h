#pragma once

#include <windows.h>

namespace korvane {

// The open error dialog, or null. Read by the splash window's thread.
extern HWND volatile errorDialogWindow;

// Shows dialog 101 of the launcher's module with the message and details; returns when closed.
void showErrorDialog(const char* message, const char* details);

void centerWindow(HWND window);

} // namespace korvane
