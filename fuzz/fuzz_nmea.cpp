// libFuzzer target: any bytes as NMEA text. Each line through the sentence
// parser, the fix decoder and the epoch builder (whose values must stay on
// the globe and in the day), then the whole text through the .nmea reader
// and loading, and the NMEA writer's text of what was read back through the
// reader: it must give a record for each point written, at most.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/UnitFileSystem.h"
#include "telemetry/UnitGpsConverterNMEA.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"
#include "telemetry/UnitNmea.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const double modified = 40299.5, created = modified - 0.01;

  TNmeaTrackBuilder builder;
  builder.SeedDate(40299, 43200000);
  TNmeaSentence s;
  TNmeaFix fix;
  TTrackRecord rec;
  auto check = [](const TTrackRecord &r) {
    if (r.Lat < -90 || r.Lat > 90 || r.Lon < -180 || r.Lon > 180) __builtin_trap();
  };
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (ParseNmeaSentence(line, s) == TNmeaLine::NotNmea) continue;
    if (s.FieldCount > kMaxNmeaFields) __builtin_trap();
    for (size_t i = 0; i < s.FieldCount; ++i)
      if (s.Fields[i].data() < line.data() ||
          s.Fields[i].data() + s.Fields[i].size() > line.data() + line.size())
        __builtin_trap();
    if (!DecodeNmeaFix(s, fix)) continue;
    if (fix.TimeMs < -1 || fix.TimeMs > 86400999) __builtin_trap();
    if (builder.Add(fix, rec)) check(rec);
  }
  if (builder.Finish(rec)) check(rec);
  TextHoldsNmea(text);
  DateTimeFromFileName(text);

  TTrackInfo info;
  if (!ReadTrackText(text, "2023_0512_235950.nmea", created, modified, info)) return 0;
  auto mi = TMovingInfo::LoadFromText(text, "f.nmea", created, modified, false);
  if (!mi) __builtin_trap();  // the same text was just read
  TTrackInfo summary;
  BeginTrackInfo(*mi, summary);
  TGpsInfoConverterNMEA writer;
  const std::string out = WriteTrackText(writer, summary);
  TTrackInfo back;
  ReadTrackText(out, "o.nmea", created, modified, back);
  if (back.Items.size() > summary.Items.size()) __builtin_trap();
  return 0;
}
