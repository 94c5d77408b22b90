#include "jvm/capture_win.h"

#include <cstdlib>
#include <cstring>

#include "jvm/capture_buffer.h"
#include "jvm/host_os.h"
#include "jvm/invocation.h"
#include "launcher/run_flags.h"
#include "launcher/settings.h"
#include "launcher/text.h"
#include "launcher/win_handles.h"
#include "ui/message_format.h"
#include "ui/report.h"

namespace korvane {

namespace {

CaptureBuffer captureBuffer;
CRITICAL_SECTION captureLock;
HANDLE capturePipe = INVALID_HANDLE_VALUE;
char pipeName[256]; // "\\.\pipe\" and the process id
HANDLE captureReaderThread = nullptr;
// Set by stopCapture before it closes the pipe, so the reader takes the end for what it is.
volatile LONG captureStopping = 0;

DWORD WINAPI pipeReader(void* parameter) {
    HANDLE pipe = parameter;
    LineAssembler lines;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto store = [](const char* text, std::size_t length) { appendCapturedText(text, length); };
    for (;;) {
        DWORD read = 0;
        ResetEvent(overlapped.hEvent);
        // An overlapped read, because a plain one on this handle is not ended by closing it.
        BOOL ok = ReadFile(pipe, lines.bytes + lines.count, static_cast<DWORD>(LineAssembler::size - lines.count),
                           nullptr, &overlapped);
        if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(pipe, &overlapped, &read, TRUE);
        else if (ok) ok = GetOverlappedResult(pipe, &overlapped, &read, FALSE);
        if (!ok) {
            const DWORD error = GetLastError();
            // The writer closing its end, or our own stop, is the end of the output, not a failure.
            const bool ended = captureStopping || error == ERROR_BROKEN_PIPE || error == ERROR_OPERATION_ABORTED ||
                               error == ERROR_INVALID_HANDLE;
            if (!ended) {
                EnterCriticalSection(&captureLock);
                const bool empty = captureBuffer.length == 0;
                LeaveCriticalSection(&captureLock);
                if (empty) {
                    SetLastError(error);
                    reportErrorWithReason("Internal error RC0000050");
                }
            }
            break;
        }
        if (read == 0) break;
        assembleLines(lines, read, store);
    }
    CloseHandle(overlapped.hEvent);
    return 0;
}

} // namespace

void initializeCaptureLock() { InitializeCriticalSection(&captureLock); }

void appendCapturedText(const char* text, std::size_t length) {
    EnterCriticalSection(&captureLock);
    appendCapturedText(captureBuffer, text, length);
    if (runFlags.runningAsService) std::fwrite(text, 1, length, stderr);
    LeaveCriticalSection(&captureLock);
}

jint JNICALL jvmVfprintfHook(FILE*, const char* format, va_list arguments) {
    char text[4096] = {};
    const int written = _vsnprintf(text, sizeof text - 1, format, arguments);
    Sleep(100);
    if (runFlags.runningOnWin9x) {
        std::fputs(text, stderr);
    } else {
        char expanded[8192];
        const std::size_t length = expandLineFeeds(text, std::strlen(text), expanded);
        appendCapturedText(expanded, length);
    }
    return written;
}

namespace host {

bool openCapturePipe() {
    wsprintfA(pipeName, "\\\\.\\pipe\\%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    capturePipe = CreateNamedPipeA(pipeName, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 255, 0, 0, 0, nullptr);
    return capturePipe != INVALID_HANDLE_VALUE;
}

const char* capturePipeName() { return pipeName; }

void closeCapturePipe() {
    if (capturePipe == INVALID_HANDLE_VALUE) return;
    CloseHandle(capturePipe);
    capturePipe = INVALID_HANDLE_VALUE;
}

bool startCaptureReader() {
    captureReaderThread = CreateThread(nullptr, 0, pipeReader, capturePipe, 0, nullptr);
    return captureReaderThread != nullptr;
}

const char* consoleStreamName() { return "CONOUT$"; }

} // namespace host

void stopCapture() {
    if (capturePipe == INVALID_HANDLE_VALUE) return;
    // Let the reader take what the application wrote last (an exception's stack trace, say)
    // before its read is ended.
    for (int i = 0; i < 50; ++i) {
        DWORD available = 0;
        if (!PeekNamedPipe(capturePipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) break;
        Sleep(10);
    }
    FlushFileBuffers(capturePipe);
    InterlockedExchange(&captureStopping, 1);
    CancelIoEx(capturePipe, nullptr);
    CloseHandle(capturePipe);
    if (captureReaderThread) WaitForSingleObject(captureReaderThread, INFINITE);
    capturePipe = INVALID_HANDLE_VALUE;
}

namespace {

// Windows 9x: the hidden console's screen buffer holds the output; read it back row by row.
void reportFromConsole(const char* message) {
    // The console's own screen buffer, not the standard output handle: a launcher started with
    // its output redirected keeps that handle even after it allocated a console.
    FileHandle consoleOutput(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    HANDLE console = consoleOutput.get();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) {
        reportErrorWithReason("Internal error RC0000042");
        return;
    }
    const int width = info.dwSize.X;
    const int rowsPerRead = consoleRowsPerRead(width);
    CHAR_INFO* cells = static_cast<CHAR_INFO*>(std::malloc(sizeof(CHAR_INFO) * static_cast<std::size_t>(width) * rowsPerRead));
    TextBuffer details;
    bool firstRow = true;
    for (int top = 0; top < info.dwSize.Y; top += rowsPerRead) {
        const int rows = info.dwSize.Y - top < rowsPerRead ? info.dwSize.Y - top : rowsPerRead;
        SMALL_RECT region = {0, static_cast<SHORT>(top), static_cast<SHORT>(width - 1), static_cast<SHORT>(top + rows - 1)};
        if (!ReadConsoleOutputA(console, cells, {static_cast<SHORT>(width), static_cast<SHORT>(rows)}, {0, 0}, &region)) {
            std::free(cells);
            releaseText(&details);
            reportErrorWithReason("Internal error RC0000023");
            return;
        }
        for (int row = 0; row < rows; ++row) {
            char line[256];
            const int count = width < 255 ? width : 255; // rows are at most 255 characters here
            for (int column = 0; column < count; ++column) line[column] = cells[row * width + column].Char.AsciiChar;
            const std::size_t length = trimmedRowLength(line, static_cast<std::size_t>(count));
            if (length == 0) continue;
            line[length] = '\0';
            if (!firstRow) appendText(&details, "\r\n");
            appendText(&details, line);
            firstRow = false;
        }
    }
    std::free(cells);
    if (details.text) {
        reportErrorWithDetails(details.text, "%s", message);
    } else {
        reportError("%s", message);
    }
    releaseText(&details);
    DWORD written;
    const DWORD cellCount = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    if (!FillConsoleOutputCharacterA(console, ' ', cellCount, {0, 0}, &written)) {
        reportErrorWithReason("Internal error RC0000030");
    } else if (!FillConsoleOutputAttribute(console, info.wAttributes, cellCount, {0, 0}, &written)) {
        reportErrorWithReason("Internal error RC0000031");
    }
}

} // namespace

void reportWithCapturedOutput(const char* format, const char* argument) {
    char message[8192];
    formatMessage(format, argument, message, sizeof message);
    if (settings.stdoutMode == 0 && settings.stderrMode == 0) {
        reportError("%s", message);
        return;
    }
    if (runFlags.runningOnWin9x) {
        reportFromConsole(message);
        return;
    }
    stopCapture();
    EnterCriticalSection(&captureLock);
    char* details = captureBuffer.length ? copyText(captureBuffer.text) : nullptr;
    captureBuffer.length = 0;
    captureBuffer.text[0] = '\0';
    LeaveCriticalSection(&captureLock);
    if (details) {
        reportErrorWithDetails(details, "%s", message);
        std::free(details);
    } else {
        reportError("%s", message);
    }
}

} // namespace korvane
