// The parts of installing and running a service that need no Windows: which switch a command
// line holds, the service's command line and dependency list, and its status record.
#pragma once

#include <cstdint>

namespace korvane {

enum class ServiceSwitch { None, Install, Uninstall, ServiceMode };

// `count` includes the reserved program-name slot, so one argument means a count of 2.
ServiceSwitch matchServiceSwitch(int count, char* const* slots, const char* installSwitch,
                                 const char* uninstallSwitch, const char* serviceModeSwitch);

// "\"PATH\" SWITCH" on the C heap.
char* serviceCommandLine(const char* launcherPath, const char* serviceModeSwitch);

// The double-NUL-terminated list CreateServiceA takes, on the C heap; null for an empty text.
// Elements keep their characters; an empty element ends the list, as the list format says.
char* serviceDependencyList(const char* semicolonList);

// The fields of SERVICE_STATUS, in its order.
struct ServiceStatusRecord {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

enum class StatusReport { Running, StopPending, Stopped, Failed, Unchanged };

namespace service_values {
constexpr std::uint32_t ownProcess = 0x10;
constexpr std::uint32_t stopped = 1;
constexpr std::uint32_t stopPending = 3;
constexpr std::uint32_t running = 4;
constexpr std::uint32_t acceptStopAndShutdown = 1 | 4;
constexpr std::uint32_t serviceSpecificError = 1066;
constexpr std::uint32_t failedToStart = 1013;
constexpr std::uint32_t stopWaitHint = 40000;
} // namespace service_values

// Moves the record to the state of `report`. False when there is nothing to report: the record
// is final (stopped), has never been reported, or is already stop pending for a stop request.
bool applyStatusReport(ServiceStatusRecord& record, StatusReport report);

// The one report of a service that cannot start at all: stopped, with the system's error code.
ServiceStatusRecord stoppedBeforeStart(std::uint32_t systemError);

} // namespace korvane
