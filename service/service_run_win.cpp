#include <windows.h>

#include <cstdlib>

#include "jvm/invocation.h"
#include "jvm/jvm_create_win.h"
#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "launcher/settings.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"
#include "service/service_config.h"
#include "service/service_state.h"
#include "service/service_win.h"
#include "ui/report.h"

namespace korvane {

namespace {

constexpr DWORD stopTimeoutMs = 30000;

// The control handler (main thread) and the service main thread both report; the lock keeps
// each update and its report together, and the record refuses everything after the stopped state.
CRITICAL_SECTION statusLock;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
ServiceStatusRecord statusRecord;

void setStatus(const ServiceStatusRecord& record) {
    SERVICE_STATUS status;
    status.dwServiceType = record.serviceType;
    status.dwCurrentState = record.currentState;
    status.dwControlsAccepted = record.controlsAccepted;
    status.dwWin32ExitCode = record.win32ExitCode;
    status.dwServiceSpecificExitCode = record.serviceSpecificExitCode;
    status.dwCheckPoint = record.checkPoint;
    status.dwWaitHint = record.waitHint;
    SetServiceStatus(statusHandle, &status);
}

bool reportStatus(StatusReport report) {
    EnterCriticalSection(&statusLock);
    const bool reported = applyStatusReport(statusRecord, report);
    if (reported) setStatus(statusRecord);
    LeaveCriticalSection(&statusLock);
    return reported;
}

bool serviceStopped() {
    EnterCriticalSection(&statusLock);
    const bool stopped = statusRecord.currentState == service_values::stopped;
    LeaveCriticalSection(&statusLock);
    return stopped;
}

bool startThread(LPTHREAD_START_ROUTINE routine) {
    DWORD id;
    KernelHandle thread(CreateThread(nullptr, 0, routine, nullptr, 0, &id));
    return static_cast<bool>(thread);
}

DWORD WINAPI serviceWorker(void*) {
    serviceState.runOk = true;
    serviceState.runOk = createJvm();
    if (!serviceState.runOk) {
        SetEvent(serviceState.stopEvent);
        return 0;
    }
    ArgumentList arguments = splitArguments(settings.serviceStartArguments, false);
    serviceState.runOk = runMainClass(arguments.count, arguments.slots, false);
    if (!serviceState.runOk) std::exit(-1);
    releaseJvm();
    SetEvent(serviceState.stopEvent);
    return 0;
}

DWORD WINAPI serviceStopper(void*) {
    if (settings.stopServiceWithExit) {
        serviceState.runOk = callSystemExit();
        return 0;
    }
    ArgumentList arguments = splitArguments(settings.serviceStopArguments, false);
    serviceState.runOk = runMainClass(arguments.count, arguments.slots, true);
    return 0;
}

DWORD WINAPI stopWatchdog(void*) {
    Sleep(stopTimeoutMs);
    if (serviceStopped()) return 0;
    reportError(settings.serviceStopTimeoutMessage, settings.serviceName);
    SetEvent(serviceState.stopEvent);
    return 0;
}

void WINAPI serviceControlHandler(DWORD control) {
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) {
        reportStatus(StatusReport::Unchanged);
        return;
    }
    // A repeated request while the first one is pending starts nothing more.
    if (!reportStatus(StatusReport::StopPending)) return;
    if (!startThread(serviceStopper)) reportLastError();
    if (!startThread(stopWatchdog)) {
        reportLastError();
        SetEvent(serviceState.stopEvent);
    }
}

// Without an event source nothing can be written to the event log, but the control manager
// must still see the service stop; the exit code carries the reason instead.
void stopWithoutEventSource(DWORD error) {
    statusHandle = RegisterServiceCtrlHandlerA(settings.serviceName, serviceControlHandler);
    if (statusHandle) {
        EnterCriticalSection(&statusLock);
        statusRecord = stoppedBeforeStart(error);
        setStatus(statusRecord);
        LeaveCriticalSection(&statusLock);
    }
    serviceState.mainDone = true;
}

void WINAPI serviceMain(DWORD, LPSTR*) {
    launchState.eventSource = RegisterEventSourceA(nullptr, settings.serviceName);
    if (!launchState.eventSource) {
        stopWithoutEventSource(GetLastError());
        return;
    }
    statusHandle = RegisterServiceCtrlHandlerA(settings.serviceName, serviceControlHandler);
    reportInfo(settings.serviceStartedMessage, settings.serviceName);
    reportStatus(StatusReport::Running);

    // Never closed: the watchdog and the JVM's exit and abort hooks may signal it after the wait.
    serviceState.stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!serviceState.stopEvent) {
        reportErrorWithReason("Internal error RC000004");
    } else if (!startThread(serviceWorker)) {
        reportErrorWithReason("Internal error RC000005");
    } else {
        WaitForSingleObject(serviceState.stopEvent, INFINITE);
    }

    if (serviceState.runOk) {
        reportInfo(settings.serviceStoppedMessage, settings.serviceName);
        reportStatus(StatusReport::Stopped);
    } else {
        reportError(settings.serviceFailedMessage, settings.serviceName);
        reportStatus(StatusReport::Failed);
    }
    HANDLE source = launchState.eventSource;
    launchState.eventSource = nullptr;
    DeregisterEventSource(source);
    serviceState.mainDone = true;
}

} // namespace

void runAsService() {
    InitializeCriticalSection(&statusLock);
    runFlags.runningAsService = true;
    SERVICE_TABLE_ENTRYA table[] = {{settings.serviceName, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        // No service thread has started, and without an event source the report would be lost:
        // it goes to the person who started the launcher with the service switch by hand.
        runFlags.runningAsService = false;
        reportErrorWithReason("Internal error RC000003");
    }
}

} // namespace korvane
