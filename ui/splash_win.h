// The splash window: bitmap 8000 centred on the screen while the application starts, on a
// thread of its own, closed after splashSeconds or once the process shows another window.
#pragma once

#include <windows.h>

namespace korvane {

// Published once by the splash thread as soon as its window exists; never cleared.
extern HWND volatile splashWindow;
// The last visible window of the process, other than the splash and the error dialog, that
// the window watch saw.
extern HWND volatile applicationWindow;
// Set when no splash window will ever be published (its thread or window could not be
// created), so that start-up does not wait for it.
extern volatile bool splashUnavailable;

// Starts the splash thread; it is never joined.
void startSplash();
// Start-up's wait: looks every 100 ms until the splash window exists or is known never to come.
void waitForSplashWindow();

// Visible top-level windows of the process, the splash included when it is visible.
int countVisibleProcessWindows(DWORD processId);

} // namespace korvane
