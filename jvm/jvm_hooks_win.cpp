#include "jvm/jvm_hooks_win.h"

#include <cstdlib>

#include "archives/cleanup_win.h"
#include "jvm/invocation.h"
#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "launcher/settings.h"
#include "service/service_state.h"

namespace korvane {

namespace {

HHOOK consoleHookHandle = nullptr;

LRESULT CALLBACK consoleQuitHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && wParam == PM_REMOVE && reinterpret_cast<const MSG*>(lParam)->message == WM_QUIT) FreeConsole();
    return CallNextHookEx(consoleHookHandle, code, wParam, lParam);
}

// What both hooks do before the process ends.
void endLaunch() {
    if (archiveCount > 0 && settings.removeTemporaryArchives) startArchiveCleanup();
    if (launchState.instanceMutex) CloseHandle(launchState.instanceMutex);
    if (runFlags.runningAsService && serviceState.runOk) {
        // The service's final status must be reported before the process goes.
        SetEvent(serviceState.stopEvent);
        while (!serviceState.mainDone) Sleep(100);
    }
}

} // namespace

void installConsoleQuitHook() {
    consoleHookHandle = SetWindowsHookExA(WH_GETMESSAGE, consoleQuitHook, nullptr, 0);
}

void JNICALL jvmExitHook(jint code) {
    if (consoleHookHandle) UnhookWindowsHookEx(consoleHookHandle);
    endLaunch();
    std::exit(static_cast<int>(code));
}

void JNICALL jvmAbortHook() {
    reportWithCapturedOutput("JVM has aborted due to an internal error.", nullptr);
    endLaunch();
    std::abort();
}

} // namespace korvane
