// What a recording was saved for: a normal drive, an event the camera
// protected (a bump, a hard brake, the user's button) or parking mode.
// Cameras say so by the folder they write into (EVENT, EMER, RO,
// Protected, PARK, ...) or by a mark in the file name (_E, EF, EV, PA,
// a LOCK or SOS prefix); all of those rules are the one table in
// UnitRecordingKind.cpp.
//
// Pure functions of the path: no file is touched, any thread may call them.
#pragma once

#include <cstdint>
#include <string>

namespace tachora {

enum TRecordingKind : uint8_t {
  kKindNormal = 0,
  kKindEvent = 1,  // event and protected recordings
  kKindParking = 2,
};

// The kind of the recording at `path`. The two folders nearest the file
// are asked first (a camera writes EVENT/100MEDIA as well as EVENT), then
// the file name; anything unmarked is normal.
TRecordingKind RecordingKind(const std::string &path);

// Language key of the kind's name ("Kind_Event", ...).
const char *RecordingKindKey(uint8_t kind);

// The kind a row of several recordings shows: an event anywhere makes the
// row an event, else parking anywhere makes it parking.
uint8_t CombinedKind(uint8_t a, uint8_t b);

}  // namespace tachora
