/* Starts a program with a command line exactly as given, waits for it and passes on its exit
 * code. Wine quotes and escapes the arguments it gets from Linux, so a test that needs a command
 * line with its own quotes goes through this.
 *   run_raw PROGRAM "COMMAND LINE" */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: run_raw PROGRAM \"COMMAND LINE\"\n", stderr);
        return 2;
    }
    char commandLine[32768];
    snprintf(commandLine, sizeof commandLine, "\"%s\" %s", argv[1], argv[2]);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(argv[1], commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "run_raw: cannot start %s: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
