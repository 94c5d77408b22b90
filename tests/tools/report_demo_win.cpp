// Shows one report through the launcher's own reporting code, so that the end-to-end tests can
// look at it as a person would.
//
//   report_demo [--service SOURCE] info|error|reason|lasterror|details [ARGS...]
//     info FORMAT [ARG]           reportInfo
//     error FORMAT [ARG]          reportError
//     reason CODE FORMAT [ARG]    SetLastError(CODE), then reportErrorWithReason
//     lasterror CODE              SetLastError(CODE), then reportLastError
//     details DETAILS FORMAT [ARG] reportErrorWithDetails; DETAILS "@N" makes N lines of text
//   --service SOURCE  delivers as a service would, to the event-log source SOURCE.
// Prints "dialog-window-after=<handle>" once the report returns.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "ui/error_dialog_win.h"
#include "ui/report.h"

using namespace korvane;

int main(int argc, char** argv) {
    launchState.instanceHandle = GetModuleHandleA(nullptr);
    int at = 1;
    if (argc > at + 1 && std::strcmp(argv[at], "--service") == 0) {
        launchState.eventSource = RegisterEventSourceA(nullptr, argv[at + 1]);
        runFlags.runningAsService = true;
        at += 2;
    }
    if (argc <= at) return 2;
    const std::string command = argv[at++];
    auto arg = [&](int i) -> const char* { return at + i < argc ? argv[at + i] : nullptr; };
    if (command == "info") {
        reportInfo(arg(0), arg(1));
    } else if (command == "error") {
        reportError(arg(0), arg(1));
    } else if (command == "reason") {
        SetLastError(static_cast<DWORD>(std::strtoul(arg(0), nullptr, 10)));
        reportErrorWithReason(arg(1), arg(2));
    } else if (command == "lasterror") {
        SetLastError(static_cast<DWORD>(std::strtoul(arg(0), nullptr, 10)));
        reportLastError();
    } else if (command == "details") {
        std::string details = arg(0);
        if (details[0] == '@') {
            const int count = std::atoi(details.c_str() + 1);
            details.clear();
            for (int i = 1; i <= count; ++i) {
                details += "line " + std::to_string(i) + " of the details, long enough to need a horizontal scroll bar " +
                           std::string(60, '-') + "\r\n";
            }
        }
        reportErrorWithDetails(details.c_str(), arg(1), arg(2));
    } else {
        return 2;
    }
    std::printf("dialog-window-after=%p\n", static_cast<void*>(errorDialogWindow));
    return 0;
}
