#pragma once

namespace korvane {

// Number of archives in the executable's archive resource; 0 while there is none.
extern int archiveCount;

// Starts a second copy of this executable that deletes the extracted archives once this
// process has ended.
void startArchiveCleanup();

} // namespace korvane
