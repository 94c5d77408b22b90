// Process-wide flags that portable code reads as well.
#pragma once

namespace korvane {

struct RunFlags {
    volatile bool runningAsService = false; // every message becomes an event-log entry
    bool runningOnWin9x = false;            // no console of its own for a windowed process
};

extern RunFlags runFlags;

} // namespace korvane
