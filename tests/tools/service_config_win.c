/* Prints a service's configuration as the service control manager gives it (QueryServiceConfigA),
 * one "key=value" line each, and its dependencies one per "dependency=" line, up to the list's end.
 * Wine 8's QueryServiceConfigA returns no dependencies, so they are read from the service's
 * DependOnService registry value, where the control manager keeps them.
 *
 *   service_config NAME
 *
 * Exit code 1 with the error code on stderr when the service cannot be opened or queried. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    SC_HANDLE manager, service;
    QUERY_SERVICE_CONFIGA* config;
    DWORD needed = 0;
    const char* dependency;
    char key[400];
    char list[4096] = {0}; /* zeros past the value end the list even when it lacks its final NUL */
    DWORD size = sizeof list - 2, type = 0;
    HKEY services;
    if (argc != 2 || strlen(argv[1]) > 256) return 2;
    manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    service = manager ? OpenServiceA(manager, argv[1], SERVICE_QUERY_CONFIG) : NULL;
    if (!service) {
        fprintf(stderr, "open failed: %lu\n", GetLastError());
        return 1;
    }
    QueryServiceConfigA(service, NULL, 0, &needed);
    config = (QUERY_SERVICE_CONFIGA*)malloc(needed);
    if (!config || !QueryServiceConfigA(service, config, needed, &needed)) {
        fprintf(stderr, "query failed: %lu\n", GetLastError());
        return 1;
    }
    printf("type=%lu\nstart=%lu\nerror_control=%lu\n", config->dwServiceType, config->dwStartType,
           config->dwErrorControl);
    printf("binary=%s\ndisplay=%s\naccount=%s\n", config->lpBinaryPathName, config->lpDisplayName,
           config->lpServiceStartName ? config->lpServiceStartName : "");
    snprintf(key, sizeof key, "SYSTEM\\CurrentControlSet\\Services\\%s", argv[1]);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &services) == ERROR_SUCCESS) {
        if (RegQueryValueExA(services, "DependOnService", NULL, &type, (BYTE*)list, &size) == ERROR_SUCCESS &&
            type == REG_MULTI_SZ) {
            for (dependency = list; *dependency; dependency += strlen(dependency) + 1) {
                printf("dependency=%s\n", dependency);
            }
        }
        RegCloseKey(services);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
