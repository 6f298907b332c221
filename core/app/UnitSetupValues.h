// The settings inside a recorder's "setup.cfg" (DOD GS600, Carcam Q3 and
// similar recorders keep it in the root of their memory card): raw bytes,
// of which only bytes 6..10 mean something to us (frame size code, time zone
// in whole hours from GMT as a signed byte, G-sensor sensitivity 0..10 for
// X, Y, Z). Every other byte is written back exactly as read, and the file
// keeps its length.
//
// Pure functions over byte strings; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tachora {

constexpr int kSetupFrameByte = 6;
constexpr int kSetupZoneByte = 7;
constexpr int kSetupSensorByte = 8;  // X; Y and Z follow
// A file must reach byte 10 to carry the settings; shorter files are
// refused (they are no setup file of these recorders).
constexpr int kSetupMinSize = 11;

// The settings as the setup window shows them.
struct TSetupValues {
  uint8_t FrameCode = 5;
  int TimeZone = 0;           // hours, -12..12
  int Sensor[3] = {0, 0, 0};  // 0..10
};
// Reads the settings of a file's bytes (defaults when it is shorter than
// kSetupMinSize): the time zone falls back to GMT+0 when out of range,
// sensitivities are limited to 0..10.
TSetupValues ReadSetupValues(std::string_view data);
// The bytes with the settings put in (time zone and sensitivities limited
// to their ranges); every other byte unchanged. A file shorter than
// kSetupMinSize is returned as it is.
std::string ApplySetupValues(std::string data, const TSetupValues &v);

}  // namespace tachora
