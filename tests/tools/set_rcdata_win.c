/* Replaces the archive resource (RT_RCDATA 16000, language neutral) of a program with the bytes
 * of a file, so that tests can give a launcher a resource the packaging tool would refuse.
 *   set_rcdata PROGRAM DATA-FILE */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: set_rcdata PROGRAM DATA-FILE\n", stderr);
        return 2;
    }
    FILE* in = fopen(argv[2], "rb");
    if (!in) {
        fprintf(stderr, "set_rcdata: cannot read %s\n", argv[2]);
        return 2;
    }
    fseek(in, 0, SEEK_END);
    long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    void* data = malloc(size > 0 ? (size_t)size : 1);
    if (fread(data, 1, (size_t)size, in) != (size_t)size) {
        fprintf(stderr, "set_rcdata: cannot read %s\n", argv[2]);
        return 2;
    }
    fclose(in);
    /* The packaging tool writes the resource language neutral; another language would add a
     * second copy beside it instead of replacing it. */
    HANDLE update = BeginUpdateResourceA(argv[1], FALSE);
    if (!update || !UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(16000),
                                    MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), data, (DWORD)size) ||
        !EndUpdateResourceA(update, FALSE)) {
        fprintf(stderr, "set_rcdata: cannot update %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    free(data);
    return 0;
}
