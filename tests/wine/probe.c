/* probe: a tiny console program the end-to-end harness runs under Wine to check itself.
 *
 *   probe exit N            exit with status N (N may be negative)
 *   probe sleep MS          sleep MS milliseconds, then exit 0
 *   probe echo WORDS...     print each argument on its own line (how a command line arrives)
 *   probe cmdline           print the raw command line (GetCommandLineA)
 *   probe env NAME          print the value of NAME; exit 1 when it is not set
 *   probe cwd               print the current folder
 *   probe stderr WORDS...   print the arguments, one per line, to stderr
 *   probe spawn MS          start "probe sleep MS" as a child, print the child's id, then sleep MS
 *   probe screen            print the primary screen size as WIDTHxHEIGHT
 *   probe window            create, show and destroy a window; print "window ok" or the error
 *   probe msgbox TEXT       show a message box; print MessageBoxA's result
 *
 * Unknown commands print a usage line to stderr and exit 2.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int usage(void)
{
    fputs("usage: probe exit N | sleep MS | echo WORDS... | cmdline | env NAME | cwd |"
          " stderr WORDS... | spawn MS | screen | window | msgbox TEXT\n",
          stderr);
    return 2;
}

static int spawn_sleeper(const char *ms)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self) {
        fprintf(stderr, "probe: GetModuleFileNameA failed (%lu)\n", GetLastError());
        return 1;
    }
    char command[2 * MAX_PATH];
    snprintf(command, sizeof command, "\"%s\" sleep %s", self, ms);
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "probe: CreateProcessA failed (%lu)\n", GetLastError());
        return 1;
    }
    printf("%lu\n", pi.dwProcessId);
    fflush(stdout);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    Sleep((DWORD)strtoul(ms, NULL, 10));
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const char *cmd = argv[1];

    if (strcmp(cmd, "exit") == 0 && argc == 3)
        return atoi(argv[2]);

    if (strcmp(cmd, "sleep") == 0 && argc == 3) {
        Sleep((DWORD)strtoul(argv[2], NULL, 10));
        return 0;
    }

    if (strcmp(cmd, "echo") == 0 || strcmp(cmd, "stderr") == 0) {
        FILE *out = cmd[0] == 'e' ? stdout : stderr;
        for (int i = 2; i < argc; i++)
            fprintf(out, "%s\n", argv[i]);
        return 0;
    }

    if (strcmp(cmd, "cmdline") == 0 && argc == 2) {
        printf("%s\n", GetCommandLineA());
        return 0;
    }

    if (strcmp(cmd, "env") == 0 && argc == 3) {
        char value[32768];
        DWORD n = GetEnvironmentVariableA(argv[2], value, sizeof value);
        if (n == 0 || n >= sizeof value)
            return 1;
        printf("%s\n", value);
        return 0;
    }

    if (strcmp(cmd, "cwd") == 0 && argc == 2) {
        char dir[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
        if (n == 0 || n >= sizeof dir)
            return 1;
        printf("%s\n", dir);
        return 0;
    }

    if (strcmp(cmd, "spawn") == 0 && argc == 3)
        return spawn_sleeper(argv[2]);

    if (strcmp(cmd, "screen") == 0 && argc == 2) {
        printf("%dx%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        return 0;
    }

    if (strcmp(cmd, "window") == 0 && argc == 2) {
        HWND w = CreateWindowExA(0, "STATIC", "probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                 NULL, NULL, GetModuleHandleA(NULL), NULL);
        if (w == NULL) {
            printf("window failed %lu\n", GetLastError());
            return 1;
        }
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        DestroyWindow(w);
        puts("window ok");
        return 0;
    }

    if (strcmp(cmd, "msgbox") == 0 && argc == 3) {
        int r = MessageBoxA(NULL, argv[2], "probe", MB_OK);
        printf("%d %lu\n", r, r == 0 || r == -1 ? GetLastError() : 0UL);
        return 0;
    }

    return usage();
}
