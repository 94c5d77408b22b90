// The splash window's thread start and window watch, run under Wine. Each test runs in a process of
// its own (the splash state is process-wide and never reset).
#include <windows.h>

#include <gtest/gtest.h>

#include "launcher/launch_state.h"
#include "launcher/settings.h"
#include "ui/error_dialog_win.h"
#include "ui/splash_win.h"

namespace {

// While set, every window creation on a thread started after it fails, as when the system refuses
// the splash thread its window.
volatile bool refuseNewThreadWindows = false;

LRESULT CALLBACK refuseWindowCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && refuseNewThreadWindows) return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A thread hook has to be set by the thread itself before it makes a window; a TLS callback runs
// on every new thread before its start routine.
void NTAPI hookNewThread(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH && refuseNewThreadWindows) {
        SetWindowsHookExA(WH_CBT, refuseWindowCreation, nullptr, GetCurrentThreadId());
    }
}

__attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK splashTestThreadCallback = hookNewThread;

DWORD WINAPI waitForSplash(void*) {
    korvane::waitForSplashWindow();
    return 0;
}

void startSplashAndWait() {
    static char title[] = "Splash under test";
    korvane::settings.splashTitle = title;
    korvane::settings.splashUntilWindow = false;
    korvane::settings.splashSeconds = 0;
    korvane::launchState.instanceHandle = GetModuleHandleA(nullptr);
    korvane::startSplash();
    HANDLE waiter = CreateThread(nullptr, 0, waitForSplash, nullptr, 0, nullptr);
    ASSERT_NE(waiter, nullptr);
    ASSERT_EQ(WaitForSingleObject(waiter, 10000), WAIT_OBJECT_0) << "start-up would wait for the splash forever";
    CloseHandle(waiter);
}

TEST(SplashStart, WindowIsPublishedAndStaysHiddenWithoutBitmap) {
    startSplashAndWait();
    ASSERT_NE(korvane::splashWindow, nullptr);
    EXPECT_FALSE(korvane::splashUnavailable);
    EXPECT_FALSE(IsWindowVisible(korvane::splashWindow));
    char text[64] = "";
    GetWindowTextA(korvane::splashWindow, text, sizeof text);
    EXPECT_STREQ(text, "Splash under test");
}

TEST(SplashStart, StartUpGoesOnWhenTheWindowCannotBeCreated) {
    refuseNewThreadWindows = true;
    startSplashAndWait();
    EXPECT_EQ(korvane::splashWindow, nullptr);
    EXPECT_TRUE(korvane::splashUnavailable);
}

TEST(WindowWatch, CountsVisibleWindowsAndNeverTakesSplashOrDialogAsApplication) {
    enum Role { Application, Splash, Dialog };
    struct Spec {
        Role role;
        bool visible;
    };
    struct Row {
        const char* label;
        Spec windows[3];
        int windowCount;
        int expectedCount;
        int expectedApplication; // index into windows, or -1
    } rows[] = {
        {"hidden application window", {{Application, false}}, 1, 0, -1},
        {"visible application window", {{Application, true}}, 1, 1, 0},
        {"visible splash alone", {{Splash, true}}, 1, 1, -1},
        {"hidden splash alone", {{Splash, false}}, 1, 0, -1},
        {"splash and error dialog", {{Splash, true}, {Dialog, true}}, 2, 2, -1},
        {"splash, dialog and application", {{Splash, true}, {Dialog, true}, {Application, true}}, 3, 3, 2},
        {"hidden splash and application", {{Splash, false}, {Application, true}}, 2, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        HWND windows[3] = {};
        korvane::splashWindow = nullptr;
        korvane::errorDialogWindow = nullptr;
        korvane::applicationWindow = nullptr;
        for (int i = 0; i < row.windowCount; ++i) {
            const Spec& spec = row.windows[i];
            windows[i] = CreateWindowExA(0, "STATIC", row.label, WS_POPUP | (spec.visible ? WS_VISIBLE : 0), 10, 10,
                                         50, 50, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
            ASSERT_NE(windows[i], nullptr);
            if (spec.role == Splash) korvane::splashWindow = windows[i];
            if (spec.role == Dialog) korvane::errorDialogWindow = windows[i];
        }
        EXPECT_EQ(korvane::countVisibleProcessWindows(GetCurrentProcessId()), row.expectedCount);
        EXPECT_EQ(korvane::applicationWindow, row.expectedApplication < 0 ? nullptr : windows[row.expectedApplication]);
        for (int i = 0; i < row.windowCount; ++i) DestroyWindow(windows[i]);
    }
}

} // namespace
