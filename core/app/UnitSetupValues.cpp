#include "app/UnitSetupValues.h"

#include <algorithm>

namespace tachora {

namespace {
// Whether the bytes reach the last setting.
bool Carries(std::string_view data) {
  return data.size() >= static_cast<size_t>(kSetupMinSize);
}
}  // namespace

TSetupValues ReadSetupValues(std::string_view data) {
  TSetupValues v;
  if (!Carries(data)) return v;
  v.FrameCode = static_cast<uint8_t>(data[kSetupFrameByte]);
  const int zone = static_cast<int8_t>(data[kSetupZoneByte]);
  v.TimeZone = zone >= -12 && zone <= 12 ? zone : 0;
  for (int i = 0; i < 3; ++i)
    v.Sensor[i] = std::min<int>(static_cast<uint8_t>(data[kSetupSensorByte + i]), 10);
  return v;
}

std::string ApplySetupValues(std::string data, const TSetupValues &v) {
  if (!Carries(data)) return data;
  data[kSetupFrameByte] = static_cast<char>(v.FrameCode);
  data[kSetupZoneByte] = static_cast<char>(static_cast<int8_t>(std::clamp(v.TimeZone, -12, 12)));
  for (int i = 0; i < 3; ++i)
    data[kSetupSensorByte + i] = static_cast<char>(std::clamp(v.Sensor[i], 0, 10));
  return data;
}

}  // namespace tachora
