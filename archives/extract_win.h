#pragma once

namespace korvane {

// Writes the archives of the executable's archive resource to the extraction folder, leaving
// files alone that already have the entry's size and time, and joins their paths to
// settings.classPath. Sets archiveCount. Failures are reported; start-up goes on regardless.
void extractArchives();

} // namespace korvane
