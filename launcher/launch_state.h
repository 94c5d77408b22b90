// Process-wide run-time state. Each field is written by one subsystem and read by others.
#pragma once

#include <windows.h>

namespace korvane {

enum class OutputMode : int { Windows = 1, EventLog = 2 };

struct LaunchState {
    OutputMode outputMode = OutputMode::Windows;
    HINSTANCE instanceHandle = nullptr;
    const char* firstArgument = nullptr;
    char startupFolder[MAX_PATH + 1] = {};
    HANDLE instanceMutex = nullptr;
    HANDLE eventSource = nullptr; // the event-log source while running as a service
};

extern LaunchState launchState;

} // namespace korvane
