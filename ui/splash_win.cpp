#include "ui/splash_win.h"

#include "launcher/launch_state.h"
#include "launcher/settings.h"
#include "ui/error_dialog_win.h"
#include "ui/message_format.h"

namespace korvane {

HWND volatile splashWindow = nullptr;
HWND volatile applicationWindow = nullptr;
volatile bool splashUnavailable = false;

namespace {

constexpr UINT_PTR closeTimer = 1;
constexpr UINT_PTR watchTimer = 2;
constexpr UINT watchInterval = 500;

WNDPROC splashPreviousProc = nullptr;
int visibleWindowCount = 0;

BOOL CALLBACK countProcessWindow(HWND window, LPARAM parameter) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != static_cast<DWORD>(parameter) || !IsWindowVisible(window)) return TRUE;
    ++visibleWindowCount;
    if (window != splashWindow && window != errorDialogWindow) applicationWindow = window;
    return TRUE;
}

void closeSplash() {
    ShowWindow(splashWindow, SW_HIDE);
    PostMessageA(splashWindow, WM_CLOSE, 0, 0);
    // Locked so that the desktop does not repaint between the two foreground changes.
    LockWindowUpdate(GetDesktopWindow());
    if (HWND application = applicationWindow) SetForegroundWindow(application);
    // The error dialog comes last so that it ends up in front of the application's window.
    if (HWND dialog = errorDialogWindow) SetForegroundWindow(dialog);
    LockWindowUpdate(nullptr);
}

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCHITTEST:
        // Clicks go to the splash itself; a static control would pass them to what lies below.
        return HTCLIENT;
    case WM_CLOSE:
        PostQuitMessage(0);
        break;
    case WM_TIMER:
        if (wParam == closeTimer) {
            KillTimer(window, closeTimer);
            closeSplash();
        } else if (wParam == watchTimer && countVisibleProcessWindows(GetCurrentProcessId()) >= 2) {
            KillTimer(window, watchTimer);
            closeSplash();
        }
        break;
    default:
        break;
    }
    return CallWindowProcA(splashPreviousProc, window, message, wParam, lParam);
}

bool createSplashWindow() {
    HWND window = CreateWindowExA(0, "STATIC", settings.splashTitle, WS_POPUP | SS_BITMAP, 0, 0, 0, 0, nullptr,
                                  nullptr, launchState.instanceHandle, nullptr);
    if (!window) return false;
    splashWindow = window;
    splashPreviousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(splashWindowProc)));

    HBITMAP bitmap = LoadBitmapA(launchState.instanceHandle, MAKEINTRESOURCEA(splashBitmapId));
    if (!bitmap) return true;
    SendMessageA(window, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    RECT bounds;
    GetWindowRect(window, &bounds);
    const WindowPosition p = centeredPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                              bounds.right - bounds.left, bounds.bottom - bounds.top);
    SetWindowPos(window, HWND_TOP, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    return true;
}

DWORD WINAPI splashThread(void*) {
    if (!createSplashWindow()) {
        splashUnavailable = true;
        return 0;
    }
    if (settings.splashUntilWindow) {
        SetTimer(splashWindow, watchTimer, watchInterval, nullptr);
    } else if (settings.splashSeconds > 0) {
        SetTimer(splashWindow, closeTimer, static_cast<UINT>(settings.splashSeconds) * 1000u, nullptr);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

} // namespace

int countVisibleProcessWindows(DWORD processId) {
    visibleWindowCount = 0;
    EnumWindows(countProcessWindow, static_cast<LPARAM>(processId));
    return visibleWindowCount;
}

void startSplash() {
    HANDLE thread = CreateThread(nullptr, 0, splashThread, nullptr, 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        splashUnavailable = true;
    }
}

void waitForSplashWindow() {
    do {
        Sleep(100);
    } while (!splashWindow && !splashUnavailable);
}

} // namespace korvane
