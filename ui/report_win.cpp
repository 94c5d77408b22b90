#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "ui/error_dialog_win.h"
#include "ui/message_format.h"
#include "ui/report.h"

namespace korvane {

volatile bool errorReportsEnabled = true;

namespace {

constexpr DWORD informationEventId = 0x40000001;
constexpr DWORD errorEventId = 0xC0000002;
constexpr std::size_t messageSize = 8192;

OutputMode effectiveOutputMode() {
    return runFlags.runningAsService ? OutputMode::EventLog : launchState.outputMode;
}

void writeEvent(WORD type, DWORD id, const char* text) {
    const char* strings[] = {text};
    ReportEventA(launchState.eventSource, type, 0, id, nullptr, 1, 0, strings, nullptr);
}

// The system's text for an error code, at most `size` - 1 characters.
void systemText(DWORD code, char* out, DWORD size) {
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), out, size, nullptr);
    if (length == 0) {
        wsprintfA(out, "Error %lu (the system has no description of it).\r\n", static_cast<unsigned long>(code));
    }
}

} // namespace

void deliverMessage(MessageKind kind, const char* text) {
    const bool error = kind == MessageKind::Error;
    if (effectiveOutputMode() == OutputMode::EventLog) {
        writeEvent(error ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, error ? errorEventId : informationEventId, text);
    } else {
        MessageBoxA(nullptr, text, error ? "Error" : "Information",
                    MB_OK | MB_SETFOREGROUND | (error ? MB_ICONERROR : MB_ICONINFORMATION));
    }
}

void reportInfo(const char* format, const char* argument) {
    char message[messageSize];
    formatMessage(format, argument, message, sizeof message);
    deliverMessage(MessageKind::Information, message);
}

void reportError(const char* format, const char* argument) {
    if (!errorReportsEnabled) return;
    char message[messageSize];
    formatMessage(format, argument, message, sizeof message);
    deliverMessage(MessageKind::Error, message);
}

void reportLastError() {
    if (!errorReportsEnabled) return;
    char text[messageSize];
    systemText(GetLastError(), text, sizeof text);
    deliverMessage(MessageKind::Error, text);
}

void reportErrorWithReason(const char* format, const char* argument) {
    if (!errorReportsEnabled) return;
    // The last error code first: formatting may change it.
    char reason[4001];
    systemText(GetLastError(), reason, sizeof reason);
    char message[4096];
    formatMessage(format, argument, message, sizeof message);
    char joined[messageSize];
    joinReason(message, reason, joined, sizeof joined);
    deliverMessage(MessageKind::Error, joined);
}

void reportErrorWithDetails(const char* details, const char* format, const char* argument) {
    char message[messageSize];
    formatMessage(format, argument, message, sizeof message);
    if (effectiveOutputMode() == OutputMode::EventLog) {
        char* text = joinDetails(message, details);
        writeEvent(EVENTLOG_ERROR_TYPE, errorEventId, text);
        std::free(text);
    } else {
        showErrorDialog(message, details);
    }
}

} // namespace korvane
