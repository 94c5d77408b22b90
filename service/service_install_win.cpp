#include <windows.h>

#include <cstdlib>

#include "launcher/settings.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"
#include "service/service_config.h"
#include "service/service_win.h"
#include "ui/report.h"

namespace korvane {

namespace {

constexpr char eventLogKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr char serviceKeyPrefix[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr DWORD allEventTypes = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

char* joinText(const char* first, const char* second) {
    TextBuffer buffer;
    appendText(&buffer, first);
    appendText(&buffer, second);
    return buffer.text;
}

// The registry calls return their status instead of setting the last error; carrying it there
// lets the failure report name the registry's own reason.
int registryFailure(LONG status, int result) {
    SetLastError(static_cast<DWORD>(status));
    return result;
}

int writeRegistryValue(HKEY root, const char* subkey, const char* valueName, DWORD type, const BYTE* data,
                       DWORD size) {
    RegistryKey key;
    LONG status = RegOpenKeyExA(root, subkey, 0, KEY_WRITE, key.out());
    if (status != ERROR_SUCCESS) return registryFailure(status, -1);
    status = RegSetValueExA(key.get(), valueName, 0, type, data, size);
    if (status != ERROR_SUCCESS) return registryFailure(status, 1);
    return 0;
}

int writeRegistryExpandStringUnder(const char* prefix, const char* name, const char* valueName, const char* text) {
    char* subkey = joinText(prefix, name);
    const int result = writeRegistryExpandString(HKEY_LOCAL_MACHINE, subkey, valueName, text);
    std::free(subkey);
    return result;
}

int registerEventSource(const char* name, const char* launcherPath) {
    char* subkey = joinText(eventLogKeyPrefix, name);
    int result = createRegistryKey(HKEY_LOCAL_MACHINE, subkey);
    if (result == 0) result = writeRegistryExpandString(HKEY_LOCAL_MACHINE, subkey, "EventMessageFile", launcherPath);
    if (result == 0) result = writeRegistryDword(HKEY_LOCAL_MACHINE, subkey, "TypesSupported", allEventTypes);
    std::free(subkey);
    return result;
}

int installFailure() {
    reportLastError();
    return -1;
}

} // namespace

int createRegistryKey(HKEY root, const char* subkey) {
    RegistryKey key;
    const LONG status = RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                        key.out(), nullptr);
    return status == ERROR_SUCCESS ? 0 : registryFailure(status, -1);
}

int writeRegistryExpandString(HKEY root, const char* subkey, const char* valueName, const char* text) {
    // The terminating NUL is part of the stored data.
    return writeRegistryValue(root, subkey, valueName, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>(lstrlenA(text) + 1));
}

int writeRegistryDword(HKEY root, const char* subkey, const char* valueName, DWORD number) {
    return writeRegistryValue(root, subkey, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                              sizeof number);
}

int queryServiceInstalled(const char* name) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) return -1;
    ServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_QUERY_CONFIG));
    if (service) return 1;
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : -1;
}

int installService(const char* name, const char* description) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) return installFailure();

    char launcherPath[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, launcherPath, sizeof launcherPath);
    if (length == 0 || length >= sizeof launcherPath) return installFailure();

    char* dependencies = serviceDependencyList(settings.serviceDependencies);
    char* commandLine = serviceCommandLine(launcherPath, settings.serviceModeSwitch);
    const DWORD serviceType =
        SERVICE_WIN32_OWN_PROCESS | (settings.serviceInteractive ? SERVICE_INTERACTIVE_PROCESS : 0);
    const DWORD startType = settings.serviceManualStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START;
    ServiceHandle service(CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS, serviceType, startType,
                                         SERVICE_ERROR_NORMAL, commandLine, nullptr, nullptr, dependencies, nullptr,
                                         nullptr));
    const DWORD createError = GetLastError();
    std::free(commandLine);
    std::free(dependencies);
    if (!service) {
        SetLastError(createError);
        return installFailure();
    }
    service.reset();
    manager.reset();

    // A registry failure leaves the service installed: nothing is rolled back.
    if (registerEventSource(name, launcherPath) != 0) return installFailure();
    if (description && *description &&
        writeRegistryExpandStringUnder(serviceKeyPrefix, name, "Description", description) != 0) {
        return installFailure();
    }
    return 0;
}

int uninstallService(const char* name) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return installFailure();
    ServiceHandle service(OpenServiceA(manager.get(), name, DELETE));
    if (!service) return installFailure();
    // Not stopped first: the control manager removes a running service once it has stopped.
    if (!DeleteService(service.get())) return installFailure();
    return 0;
}

bool dispatchServiceSwitch(int count, char** arguments) {
    switch (matchServiceSwitch(count, arguments, settings.installSwitch, settings.uninstallSwitch,
                               settings.serviceModeSwitch)) {
    case ServiceSwitch::None:
        return false;
    case ServiceSwitch::Install:
        switch (queryServiceInstalled(settings.serviceName)) {
        case 1:
            reportError(settings.serviceAlreadyInstalledMessage, settings.serviceName);
            break;
        case 0:
            if (installService(settings.serviceName, settings.serviceDescription) == 0) {
                reportInfo(settings.serviceInstalledMessage, settings.serviceName);
            }
            break;
        default:
            break;
        }
        return true;
    case ServiceSwitch::Uninstall:
        if (uninstallService(settings.serviceName) == 0) {
            reportInfo(settings.serviceUninstalledMessage, settings.serviceName);
        }
        return true;
    case ServiceSwitch::ServiceMode:
        runAsService();
        return true;
    }
    return false;
}

} // namespace korvane
