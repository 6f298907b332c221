// Start-up timing (the program's --timing option): the moments a user waits
// for, written to stderr once each as milliseconds since the process
// started, e.g. "tachora: timing: window-visible 412 ms". The origin is the
// kernel's start time of the process (/proc/self/stat, 10 ms steps), so the
// time spent loading libraries before main() is counted too.
//
// The moments: main (libraries loaded), window-visible (the main window's first exposure has been
// painted), list-filled (the files of the command line are in the list),
// first-frame (the video surface drew its first picture; its size in device
// pixels follows, "first-frame 480 ms 670x392", so that a comparison can give
// another player the same picture size) and map-loaded (the map page
// reported it is ready).
//
// Off unless EnableTiming() was called; a mark then costs one flag test.
// Thread-safe.
#pragma once

#include <string>

namespace tachora {

void EnableTiming();
bool TimingEnabled();
// Milliseconds from the process's start to now; -1 when unknown.
double MsSinceProcessStart();
// Writes the moment `what` (a word without spaces) and `detail` the first
// time it is marked, when timing is on.
void MarkTiming(const char *what, const std::string &detail = {});

}  // namespace tachora
