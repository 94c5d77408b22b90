// What the rest of the launcher needs to know about a running service.
#pragma once

#include <windows.h>

namespace korvane {

struct ServiceState {
    HANDLE stopEvent = nullptr;       // signalled to end the service
    volatile bool runOk = false;      // the application runs under the service
    volatile bool mainDone = false;   // the service has reported its final status
};

extern ServiceState serviceState;

} // namespace korvane
