// libFuzzer target: a recorder's "setup.cfg" and the values a user picks.
// The first five bytes are the picked values (frame code, time zone, the
// three sensitivities, as raw numbers), the rest is the file. Reading gives
// values in their ranges; writing them back changes only the setting bytes
// and keeps the length; and what was written reads back as written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/UnitSetupValues.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5) return 0;
  TSetupValues picked;
  picked.FrameCode = data[0];
  picked.TimeZone = static_cast<int8_t>(data[1]) * 3;  // also far out of range
  for (int i = 0; i < 3; ++i) picked.Sensor[i] = static_cast<int8_t>(data[2 + i]);
  const std::string file(reinterpret_cast<const char *>(data + 5), size - 5);

  const TSetupValues read = ReadSetupValues(file);
  if (read.TimeZone < -12 || read.TimeZone > 12) __builtin_trap();
  for (int s : read.Sensor)
    if (s < 0 || s > 10) __builtin_trap();

  const std::string written = ApplySetupValues(file, picked);
  if (written.size() != file.size()) __builtin_trap();
  if (file.size() < static_cast<size_t>(kSetupMinSize)) {
    if (written != file) __builtin_trap();
    return 0;
  }
  for (size_t i = 0; i < file.size(); ++i)
    if ((i < size_t{kSetupFrameByte} || i > size_t{kSetupSensorByte} + 2) && written[i] != file[i])
      __builtin_trap();
  const TSetupValues back = ReadSetupValues(written);
  if (back.FrameCode != picked.FrameCode) __builtin_trap();
  if (picked.TimeZone >= -12 && picked.TimeZone <= 12 && back.TimeZone != picked.TimeZone)
    __builtin_trap();
  for (int i = 0; i < 3; ++i)
    if (back.Sensor[i] != std::clamp(picked.Sensor[i], 0, 10)) __builtin_trap();
  return 0;
}
