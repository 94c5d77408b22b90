/* Holds a named mutex for a while, as a running launcher of that application would:
 *   hold_mutex NAME MILLISECONDS
 * Prints "held" once it owns the mutex. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HANDLE mutex = CreateMutexA(NULL, TRUE, argv[1]);
    if (!mutex) return 1;
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)strtoul(argv[2], NULL, 10));
    CloseHandle(mutex);
    return 0;
}
