// The one channel through which the launcher tells people what happened: message boxes and
// the error dialog, or event-log entries while running as a service.
//
// Every message text is a format with at most one argument, always a text: "%s" takes the
// argument and "%%" a percent sign. A text that holds anything else (a stray "%", "%d", a
// "%s" with no argument to take) is shown exactly as it stands, never handed to printf.
#pragma once

namespace korvane {

enum class MessageKind { Information, Error };

void reportInfo(const char* format, const char* argument = nullptr);
// These three do nothing while errorReportsEnabled is false.
void reportError(const char* format, const char* argument = nullptr);
void reportLastError();
// The message, an empty line, "Reason: " and the system's text for the last error code.
void reportErrorWithReason(const char* format, const char* argument = nullptr);
// The error dialog with a details text (or one error event that holds both).
void reportErrorWithDetails(const char* details, const char* format, const char* argument = nullptr);

// Sends one finished text; it is never used as a format again.
void deliverMessage(MessageKind kind, const char* text);

extern volatile bool errorReportsEnabled;

} // namespace korvane
