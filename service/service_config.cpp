#include "service/service_config.h"

#include <cstdlib>
#include <cstring>

namespace korvane {

ServiceSwitch matchServiceSwitch(int count, char* const* slots, const char* installSwitch,
                                 const char* uninstallSwitch, const char* serviceModeSwitch) {
    if (count != 2 || !slots[1]) return ServiceSwitch::None;
    const char* argument = slots[1];
    if (std::strcmp(argument, installSwitch) == 0) return ServiceSwitch::Install;
    if (std::strcmp(argument, uninstallSwitch) == 0) return ServiceSwitch::Uninstall;
    if (std::strcmp(argument, serviceModeSwitch) == 0) return ServiceSwitch::ServiceMode;
    return ServiceSwitch::None;
}

char* serviceCommandLine(const char* launcherPath, const char* serviceModeSwitch) {
    const std::size_t pathLength = std::strlen(launcherPath);
    const std::size_t switchLength = std::strlen(serviceModeSwitch);
    char* line = static_cast<char*>(std::malloc(pathLength + switchLength + 4));
    if (!line) return nullptr;
    char* at = line;
    *at++ = '"';
    std::memcpy(at, launcherPath, pathLength);
    at += pathLength;
    *at++ = '"';
    *at++ = ' ';
    std::memcpy(at, serviceModeSwitch, switchLength + 1);
    return line;
}

char* serviceDependencyList(const char* semicolonList) {
    if (!semicolonList || !*semicolonList) return nullptr;
    const std::size_t length = std::strlen(semicolonList);
    char* list = static_cast<char*>(std::calloc(length + 2, 1));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < length; ++i) list[i] = semicolonList[i] == ';' ? '\0' : semicolonList[i];
    return list;
}

bool applyStatusReport(ServiceStatusRecord& record, StatusReport report) {
    using namespace service_values;
    if (record.currentState == stopped) return false;
    switch (report) {
    case StatusReport::Running:
        record = ServiceStatusRecord{};
        record.serviceType = ownProcess;
        record.currentState = running;
        record.controlsAccepted = acceptStopAndShutdown;
        return true;
    case StatusReport::StopPending:
        if (record.currentState != running) return false;
        record.currentState = stopPending;
        record.waitHint = stopWaitHint;
        return true;
    case StatusReport::Stopped:
    case StatusReport::Failed:
        if (record.currentState == 0) return false;
        record.currentState = stopped;
        record.waitHint = 0;
        if (report == StatusReport::Failed) {
            record.win32ExitCode = serviceSpecificError;
            record.serviceSpecificExitCode = failedToStart;
        }
        return true;
    case StatusReport::Unchanged:
        return record.currentState != 0;
    }
    return false;
}

ServiceStatusRecord stoppedBeforeStart(std::uint32_t systemError) {
    ServiceStatusRecord record;
    record.serviceType = service_values::ownProcess;
    record.currentState = service_values::stopped;
    record.win32ExitCode = systemError;
    return record;
}

} // namespace korvane
