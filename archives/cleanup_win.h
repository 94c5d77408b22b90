#pragma once

namespace korvane {

// Number of archives in the executable's archive resource; 0 while there is none. Set by
// extractArchives.
extern int archiveCount;

// Starts a second copy of this executable that deletes the extracted archives once this
// process has ended.
void startArchiveCleanup();

// The clean-up mode: waits up to 30 seconds for process `processId` to end, then deletes the
// files the archive resource names from the extraction folder, and the folder when empty.
void removeExtractedArchives(int processId);

} // namespace korvane
