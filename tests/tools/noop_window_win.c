/* A windowed program that does nothing: the baseline for start-up measurements. Like every
 * windowed program it loads user32 (under Wine its start-up is most of a small program's cost). */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    return CharNextA("") == NULL; /* imports user32 without waking the display driver */
}
