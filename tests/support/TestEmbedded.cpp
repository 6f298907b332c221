#include "TestEmbedded.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tachora::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- byte writers ----

void PutLE32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}
void PutLEf(std::string &b, size_t at, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutLE32(b, at, v);
}
void PutLEd(std::string &b, size_t at, double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  PutLE32(b, at, static_cast<uint32_t>(v));
  PutLE32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
void PutBE16(std::string &b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v >> 8);
  b[at + 1] = static_cast<char>(v);
}
void PutBE32(std::string &b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}
std::string BE32(uint32_t v) {
  std::string s(4, '\0');
  PutBE32(s, 0, v);
  return s;
}
std::string BE16(uint16_t v) {
  std::string s(2, '\0');
  PutBE16(s, 0, v);
  return s;
}
uint32_t GetBE32(const std::string &b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
         uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}
std::string Box(const char *type, const std::string &payload) {
  return BE32(static_cast<uint32_t>(payload.size() + 8)) + std::string(type, 4) + payload;
}
std::string FullBox(const char *type, uint32_t versionFlags, const std::string &payload) {
  return Box(type, BE32(versionFlags) + payload);
}

double Ddmm(double degrees) {
  const double a = std::fabs(degrees);
  const double d = std::floor(a);
  return d * 100 + (a - d) * 60;
}

std::string Digits(int64_t v, int width) {
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

std::string Stamp14(const TEmbeddedFix &f) {
  return Digits(f.year, 4) + Digits(f.month, 2) + Digits(f.day, 2) + Digits(f.hour, 2) +
         Digits(f.minute, 2) + Digits(static_cast<int>(f.second), 2);
}

// ---- freeGPS blocks ----

std::string BlockHeader(uint32_t size, uint32_t firmware) {
  std::string b(size, '\0');
  PutBE32(b, 0, size);
  std::memcpy(&b[4], "freeGPS ", 8);
  PutLE32(b, 12, firmware);
  return b;
}

void PutRecordB(std::string &b, size_t o, const TEmbeddedFix &f, int localHours) {
  int year = f.year - 2000, hour = f.hour, day = f.day;
  if (localHours != 0) {  // the camera's clock, full year
    year = f.year;
    hour += localHours;
    if (hour >= 24) {  // tests keep away from month ends
      hour -= 24;
      ++day;
    }
  }
  const uint32_t fields[6] = {static_cast<uint32_t>(hour),     static_cast<uint32_t>(f.minute),
                              static_cast<uint32_t>(f.second), static_cast<uint32_t>(year),
                              static_cast<uint32_t>(f.month),  static_cast<uint32_t>(day)};
  for (int i = 0; i < 6; ++i) PutLE32(b, o + 4 * i, fields[i]);
  b[o + 0x18] = f.valid ? 'A' : 'V';
  b[o + 0x19] = f.lat >= 0 ? 'N' : 'S';
  b[o + 0x1a] = f.lon >= 0 ? 'E' : 'W';
  PutLEf(b, o + 0x1c, static_cast<float>(Ddmm(f.lat)));
  PutLEf(b, o + 0x20, static_cast<float>(Ddmm(f.lon)));
  PutLEf(b, o + 0x24, static_cast<float>(f.speedKmh / 1.852));
  PutLEf(b, o + 0x28, static_cast<float>(f.course));
  PutLE32(b, o + 0x2c, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.ax * 256))));
  PutLE32(b, o + 0x30, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.ay * 256))));
  PutLE32(b, o + 0x34, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.az * 256))));
}

void PutTimeA(std::string &b, const TEmbeddedFix &f) {
  const uint32_t fields[6] = {static_cast<uint32_t>(f.hour),   static_cast<uint32_t>(f.minute),
                              static_cast<uint32_t>(f.second), static_cast<uint32_t>(f.year - 2000),
                              static_cast<uint32_t>(f.month),  static_cast<uint32_t>(f.day)};
  for (int i = 0; i < 6; ++i) PutLE32(b, 0x30 + 4 * i, fields[i]);
  b[0x48] = f.valid ? 'A' : 'V';
  b[0x49] = f.lat >= 0 ? 'N' : 'S';
  b[0x4a] = f.lon >= 0 ? 'E' : 'W';
}

}  // namespace

std::string FreeGpsBlock(const TEmbeddedFix &f, const TEmbeddedClip &recipe) {
  const uint32_t size = recipe.blockSize;
  switch (recipe.layout) {
    case TEmbeddedLayout::FreeGpsA: {
      std::string b = BlockHeader(size, 0x4c);
      PutTimeA(b, f);
      PutLEf(b, 0x4c, static_cast<float>(Ddmm(f.lat)));
      PutLEf(b, 0x50, static_cast<float>(Ddmm(f.lon)));
      PutLEf(b, 0x54, static_cast<float>(f.speedKmh / 1.852));
      PutLEf(b, 0x58, static_cast<float>(f.course));
      return b;
    }
    case TEmbeddedLayout::FreeGpsIqs: {
      std::string b = BlockHeader(size, 0x4c);
      std::memcpy(&b[0x10], "IQS_A7_20150417", 15);
      PutTimeA(b, f);
      PutLE32(b, 0x4c, static_cast<uint32_t>(std::lround(std::fabs(f.lat) * 1e7)));
      PutLE32(b, 0x50, static_cast<uint32_t>(std::lround(std::fabs(f.lon) * 1e7)));
      PutLE32(b, 0x54, static_cast<uint32_t>(std::lround(f.speedKmh / 3.6 * 100)));
      PutLEf(b, 0x58, static_cast<float>(f.altitude));
      return b;
    }
    case TEmbeddedLayout::FreeGpsB: {
      std::string b = BlockHeader(size, 0x3f0);
      PutRecordB(b, 0x10, f, recipe.localClockHours);
      return b;
    }
    case TEmbeddedLayout::FreeGpsAnchor: {
      std::string b = BlockHeader(size, 0x1f0);
      PutRecordB(b, recipe.anchorRecord, f, 0);
      return b;
    }
    case TEmbeddedLayout::FreeGpsXor: {
      std::string b = BlockHeader(size, 0x101);
      std::string p = std::string("\0\0XKZD\xfe\xfe", 8) + Stamp14(f) + "\x0c" + "5567GP" +
                      std::string(9, '\0');
      p += f.valid ? (f.lat >= 0 ? 'N' : 'S') : 'V';
      p += Digits(std::lround(Ddmm(f.lat) * 1e4), 8);
      p += f.lon >= 0 ? 'E' : 'W';
      p += Digits(std::lround(Ddmm(f.lon) * 1e4), 9);
      p += Digits(std::lround(f.speedKmh), 8);
      p.resize(173, '0');
      auto axis = [](double g) {
        const long v = std::lround(g * 100);
        return std::string(1, v < 0 ? '-' : '+') + Digits(std::labs(v), 3);
      };
      p += axis(f.ax) + axis(f.ay) + axis(f.az);
      for (size_t i = 0; i < p.size() && 18 + i < b.size(); ++i)
        b[18 + i] = static_cast<char>(p[i] ^ 0xaa);
      return b;
    }
    case TEmbeddedLayout::FreeGpsDollarS: {
      std::string b = BlockHeader(size, 0x4c);
      std::string r(32, '\0');
      r[0] = '$';
      r[1] = 'S';
      PutBE16(r, 2, static_cast<uint16_t>(std::lround(f.speedKmh / 3.6 * 100)));
      PutBE16(r, 4, static_cast<uint16_t>(static_cast<int16_t>(std::lround(f.course * 100))));
      PutBE16(r, 6, static_cast<uint16_t>(f.year));
      r[8] = static_cast<char>(f.month);
      r[9] = static_cast<char>(f.day);
      r[10] = static_cast<char>(f.hour);
      r[11] = static_cast<char>(f.minute);
      PutBE16(r, 12, static_cast<uint16_t>(std::lround(f.second * 10)));
      PutBE32(r, 15, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.lat * 1e7))));
      PutBE32(r, 19, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.lon * 1e7))));
      b.replace(0x30, 32, r);
      return b;
    }
    case TEmbeddedLayout::FreeGps70mai: {
      std::string b = BlockHeader(size, 0x4c);
      b[30] = f.valid ? 'A' : 'V';
      PutLE32(b, 31, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.lat * 1e7))));
      PutLE32(b, 35, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.lon * 1e7))));
      PutLE32(b, 43, static_cast<uint32_t>(std::lround(f.speedKmh)));
      b[51] = 'V';
      b[52] = 'V';
      return b;
    }
    case TEmbeddedLayout::FreeGpsAkaso: {
      std::string b = BlockHeader(size, 0x60);
      const uint32_t hms[3] = {static_cast<uint32_t>(f.hour), static_cast<uint32_t>(f.minute),
                               static_cast<uint32_t>(f.second)};
      for (int i = 0; i < 3; ++i) PutLE32(b, 48 + 4 * i, hms[i]);
      b[60] = f.valid ? 'A' : 'V';
      PutLEf(b, 0x40, static_cast<float>(Ddmm(f.lat)));
      b[68] = f.lat >= 0 ? 'N' : 'S';
      PutLEf(b, 0x48, static_cast<float>(Ddmm(f.lon)));
      b[76] = f.lon >= 0 ? 'E' : 'W';
      PutLEf(b, 0x50, static_cast<float>(f.speedKmh));
      PutLEf(b, 0x54, static_cast<float>(f.course));
      PutLE32(b, 0x58, static_cast<uint32_t>(f.year));
      PutLE32(b, 0x5c, static_cast<uint32_t>(f.month));
      PutLE32(b, 0x60, static_cast<uint32_t>(f.day));
      return b;
    }
    case TEmbeddedLayout::FreeGpsVantrueS1: {
      std::string b = BlockHeader(size, 0x80);
      std::memcpy(&b[48], "horsontech", 10);
      b[64] = f.valid ? 'A' : 'V';
      b[65] = f.lat >= 0 ? 'N' : 'S';
      b[66] = f.lon >= 0 ? 'E' : 'W';
      const uint32_t t[6] = {static_cast<uint32_t>(f.year - 2000), static_cast<uint32_t>(f.month),
                             static_cast<uint32_t>(f.day),         static_cast<uint32_t>(f.hour),
                             static_cast<uint32_t>(f.minute),      static_cast<uint32_t>(f.second)};
      for (int i = 0; i < 6; ++i) PutLE32(b, 68 + 4 * i, t[i]);
      PutLEf(b, 0x5c, static_cast<float>(Ddmm(f.lon)));
      PutLEf(b, 0x60, static_cast<float>(Ddmm(f.lat)));
      PutLEf(b, 0x64, static_cast<float>(f.speedKmh / 1.852));
      PutLEf(b, 0x68, static_cast<float>(f.course));
      PutLEf(b, 0x6c, static_cast<float>(f.altitude));
      const double g[3] = {f.ax, f.ay, f.az};
      for (int i = 0; i < 3; ++i)
        PutLE32(b, 0x70 + 4 * i,
                static_cast<uint32_t>(static_cast<int32_t>(std::lround(g[i] * 1000))));
      return b;
    }
    case TEmbeddedLayout::FreeGpsVantrueN4: {
      std::string b = BlockHeader(size, 0x100);
      const uint32_t hms[3] = {static_cast<uint32_t>(f.hour), static_cast<uint32_t>(f.minute),
                               static_cast<uint32_t>(f.second)};
      for (int i = 0; i < 3; ++i) PutLE32(b, 16 + 4 * i, hms[i]);
      b[28] = f.valid ? 'A' : 'V';
      PutLEd(b, 32, Ddmm(f.lat));
      b[40] = f.lat >= 0 ? 'N' : 'S';
      PutLEd(b, 48, Ddmm(f.lon));
      b[56] = f.lon >= 0 ? 'E' : 'W';
      PutLEd(b, 64, f.speedKmh / 1.852);
      PutLEd(b, 72, f.course);
      const uint32_t ymd[3] = {static_cast<uint32_t>(f.year - 2000), static_cast<uint32_t>(f.month),
                               static_cast<uint32_t>(f.day)};
      for (int i = 0; i < 3; ++i) PutLE32(b, 80 + 4 * i, ymd[i]);
      const double g[3] = {f.ax, f.ay, f.az};
      for (int i = 0; i < 3; ++i)
        PutLE32(b, 92 + 4 * i,
                static_cast<uint32_t>(static_cast<int32_t>(std::lround(g[i] * 1000))));
      return b;
    }
    case TEmbeddedLayout::Encrypted: {
      std::string b = BlockHeader(size, 0x4c);
      std::memcpy(&b[16], "LIGOGPSINFO\0", 12);
      std::memcpy(&b[0x40], "####", 4);
      for (size_t i = 0x44; i < 0x44 + 0x80; ++i) b[i] = static_cast<char>(i * 37 + 11);
      return b;
    }
    default:
      throw std::runtime_error("FreeGpsBlock: not a freeGPS layout");
  }
}

std::vector<TEmbeddedFix> MakeDrive(const std::string &start, int count, double lat, double lon,
                                    double speedKmh, double course) {
  std::vector<TEmbeddedFix> out;
  TEmbeddedFix f;
  if (std::sscanf(start.c_str(), "%d-%d-%d %d:%d:%lf", &f.year, &f.month, &f.day, &f.hour,
                  &f.minute, &f.second) != 6)
    throw std::runtime_error("MakeDrive: bad start " + start);
  const double step = speedKmh / 3.6;  // metres a second
  for (int i = 0; i < count; ++i) {
    TEmbeddedFix p = f;
    int total = static_cast<int>(f.second) + i + 60 * (f.minute + 60 * f.hour);
    p.hour = total / 3600 % 24;
    p.minute = total / 60 % 60;
    p.second = total % 60;
    const double d = step * i;
    p.lat = lat + d * std::cos(course * kPi / 180) / 111195.0;
    p.lon = lon + d * std::sin(course * kPi / 180) / (111195.0 * std::cos(lat * kPi / 180));
    p.speedKmh = speedKmh;
    p.course = course;
    p.altitude = 100 + i;
    p.ax = 0.01 * (i % 5);
    p.ay = -0.02;
    p.az = 1;
    out.push_back(p);
  }
  return out;
}

namespace {

// ---- the recording ----

struct TExtras {
  std::vector<std::string> mdatBlocks;  // appended to the media data on 0x8000 boundaries
  bool gpsIndex = false;
  // Tracks: a function that, given where the media data ends, gives the
  // trak box and the bytes to append to the media data after the blocks.
  std::function<std::string(uint64_t dataAt, uint32_t trackId, std::string &data)> track;
  std::vector<std::string> topLevel;  // boxes after the movie
};

std::string Rewrite(const std::string &clip, const TExtras &x) {
  const std::string src = ReadFileBytes(clip);
  size_t mdatAt = std::string::npos, moovAt = std::string::npos;
  for (size_t p = 0; p + 8 <= src.size();) {
    const uint32_t size = GetBE32(src, p);
    const std::string type = src.substr(p + 4, 4);
    if (size < 8) throw std::runtime_error("clip: unexpected box size");
    if (type == "mdat") mdatAt = p;
    if (type == "moov") moovAt = p;
    p += size;
  }
  if (mdatAt == std::string::npos || moovAt == std::string::npos || moovAt < mdatAt)
    throw std::runtime_error("clip: media data must come before the movie");
  const uint32_t mdatSize = GetBE32(src, mdatAt);
  std::string out = src.substr(0, mdatAt + mdatSize);
  std::vector<std::pair<uint32_t, uint32_t>> index;
  for (const std::string &b : x.mdatBlocks) {
    out.resize((out.size() + 0x7fff) & ~size_t(0x7fff), '\0');
    index.emplace_back(static_cast<uint32_t>(out.size()), static_cast<uint32_t>(b.size()));
    out += b;
  }
  std::string moov = src.substr(moovAt, GetBE32(src, moovAt));
  if (x.track) {
    // The next track ID is the last field of mvhd.
    const size_t mvhd = moov.find("mvhd");
    const size_t next = mvhd - 4 + GetBE32(moov, mvhd - 4) - 4;
    const uint32_t id = GetBE32(moov, next);
    PutBE32(moov, next, id + 1);
    std::string data;
    moov += x.track(out.size(), id, data);
    out += data;
  }
  if (x.gpsIndex) {
    std::string p = BE32(0x101) + BE32(static_cast<uint32_t>(index.size()));
    for (const auto &[at, size] : index) p += BE32(at) + BE32(size);
    moov += Box("gps ", p);
  }
  PutBE32(moov, 0, static_cast<uint32_t>(moov.size()));
  PutBE32(out, mdatAt, static_cast<uint32_t>(out.size() - mdatAt));
  out += moov;
  for (const std::string &b : x.topLevel) out += b;
  return out;
}

std::string ContentKey(const std::vector<TEmbeddedFix> &fixes, const TEmbeddedClip &s) {
  // Raised whenever the bytes written for a layout change, so that files
  // made by an older generator are not reused.
  constexpr int kGeneratorVersion = 2;
  std::ostringstream o;
  o.precision(12);
  o << kGeneratorVersion << '|' << static_cast<int>(s.layout) << '|' << s.index << '|'
    << s.blockSize << '|' << s.localClockHours << '|' << s.anchorRecord << '|' << s.media.seconds
    << '|' << s.media.video << '|' << s.media.extraArgs << '|' << s.media.creationTime;
  for (const TEmbeddedFix &f : fixes)
    o << '|' << f.year << f.month << f.day << f.hour << f.minute << f.second << f.lat << f.lon
      << f.speedKmh << f.course << f.altitude << f.valid << f.ax << f.ay << f.az;
  std::ostringstream h;
  h << std::hex << std::hash<std::string>{}(o.str());
  return h.str().substr(0, 12);
}

bool IsFreeGps(TEmbeddedLayout l) {
  switch (l) {
    case TEmbeddedLayout::FreeGpsA:
    case TEmbeddedLayout::FreeGpsB:
    case TEmbeddedLayout::FreeGpsIqs:
    case TEmbeddedLayout::FreeGpsAnchor:
    case TEmbeddedLayout::FreeGpsXor:
    case TEmbeddedLayout::FreeGpsDollarS:
    case TEmbeddedLayout::FreeGps70mai:
    case TEmbeddedLayout::FreeGpsAkaso:
    case TEmbeddedLayout::FreeGpsVantrueS1:
    case TEmbeddedLayout::FreeGpsVantrueN4:
    case TEmbeddedLayout::Encrypted:
      return true;
    default:
      return false;
  }
}

TExtras ExtrasFor(const std::vector<TEmbeddedFix> &fixes, const TEmbeddedClip &recipe);

}  // namespace

std::string GenerateEmbedded(const std::string &name, const std::vector<TEmbeddedFix> &fixes,
                             const TEmbeddedClip &recipe) {
  fs::path path = fs::path(TestMediaDir()) / (name + "-" + ContentKey(fixes, recipe) + ".mp4");
  if (fs::exists(path)) return path.string();
  TMediaRecipe media = recipe.media;
  media.faststart = false;
  const std::string clip = GenerateMp4("embedded-clip", media);
  const std::string bytes = Rewrite(clip, ExtrasFor(fixes, recipe));
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(tmp, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + tmp.string());
  }
  fs::rename(tmp, path);
  return path.string();
}

namespace {

// ---- tracks ----

struct TSamples {
  std::vector<std::string> data;
  std::vector<uint32_t> durations;  // in units of the time scale
};

std::string MakeTrak(uint32_t id, const char *handler, const std::string &sampleEntry,
                     uint32_t timeScale, const TSamples &s, uint64_t dataAt) {
  uint64_t duration = 0;
  for (uint32_t d : s.durations) duration += d;
  const uint32_t movieDuration = static_cast<uint32_t>(duration * 1000 / timeScale);
  std::string matrix = BE32(0x10000) + BE32(0) + BE32(0) + BE32(0) + BE32(0x10000) + BE32(0) +
                       BE32(0) + BE32(0) + BE32(0x40000000);
  const std::string tkhd =
      FullBox("tkhd", 0,
              BE32(0) + BE32(0) + BE32(id) + BE32(0) + BE32(movieDuration) + std::string(8, '\0') +
                  std::string(8, '\0') + matrix + BE32(0) + BE32(0));
  const std::string mdhd =
      FullBox("mdhd", 0,
              BE32(0) + BE32(0) + BE32(timeScale) + BE32(static_cast<uint32_t>(duration)) +
                  BE16(0x55c4) + BE16(0));
  const std::string hdlr =
      FullBox("hdlr", 0, BE32(0) + std::string(handler, 4) + std::string(12, '\0') + "\0");
  std::string stts, stsz, stco;
  uint64_t at = dataAt;
  for (size_t i = 0; i < s.data.size(); ++i) {
    stts += BE32(1) + BE32(s.durations[i]);
    stsz += BE32(static_cast<uint32_t>(s.data[i].size()));
    stco += BE32(static_cast<uint32_t>(at));
    at += s.data[i].size();
  }
  const uint32_t n = static_cast<uint32_t>(s.data.size());
  const std::string stbl =
      Box("stbl", FullBox("stsd", 0, BE32(1) + sampleEntry) + FullBox("stts", 0, BE32(n) + stts) +
                      FullBox("stsc", 0, BE32(1) + BE32(1) + BE32(1) + BE32(1)) +
                      FullBox("stsz", 0, BE32(0) + BE32(n) + stsz) +
                      FullBox("stco", 0, BE32(n) + stco));
  const std::string dinf = Box("dinf", FullBox("dref", 0, BE32(1) + FullBox("url ", 1, "")));
  const std::string minf = Box("minf", FullBox("nmhd", 0, "") + dinf + stbl);
  return Box("trak", tkhd + Box("mdia", mdhd + hdlr + minf));
}

std::string SampleEntry(const char *format, const std::string &extra) {
  return Box(format, std::string(6, '\0') + BE16(1) + extra);
}

std::string TextSample(const std::string &text) {
  return BE16(static_cast<uint16_t>(text.size())) + text;
}

std::function<std::string(uint64_t, uint32_t, std::string &)> TrackOf(const char *handler,
                                                                      const std::string &entry,
                                                                      uint32_t timeScale,
                                                                      TSamples samples) {
  return [=](uint64_t dataAt, uint32_t id, std::string &data) {
    for (const std::string &d : samples.data) data += d;
    return MakeTrak(id, handler, entry, timeScale, samples, dataAt);
  };
}

std::string Klv(const char *key, char type, size_t structSize, const std::string &payload) {
  std::string k(key, 4);
  k += type;
  k += static_cast<char>(structSize);
  k += BE16(static_cast<uint16_t>(structSize ? payload.size() / structSize : 0));
  k += payload;
  k.resize((k.size() + 3) & ~size_t(3), '\0');
  return k;
}
std::string Nest(const char *key, const std::string &payload) {
  return Klv(key, '\0', 4, payload);
}

uint64_t UnixMs(const TEmbeddedFix &f) {
  // Days from 1970-01-01 for a proleptic Gregorian date.
  int y = f.year, m = f.month;
  y -= m <= 2;
  const int era = y / 400, yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + f.day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097LL + doe - 719468;
  return static_cast<uint64_t>(((days * 24 + f.hour) * 60 + f.minute) * 60000 +
                               std::llround(f.second * 1000));
}

TExtras ExtrasFor(const std::vector<TEmbeddedFix> &fixes, const TEmbeddedClip &recipe) {
  TExtras x;
  if (IsFreeGps(recipe.layout)) {
    for (const TEmbeddedFix &f : fixes) x.mdatBlocks.push_back(FreeGpsBlock(f, recipe));
    x.gpsIndex = recipe.index;
    return x;
  }
  TSamples samples;
  switch (recipe.layout) {
    case TEmbeddedLayout::Gpmf:
    case TEmbeddedLayout::Gpmf9:
      for (const TEmbeddedFix &f : fixes) {
        samples.data.push_back(GpmfPayload({f}, recipe.layout == TEmbeddedLayout::Gpmf9));
        samples.durations.push_back(1000);
      }
      x.track = TrackOf("meta", SampleEntry("gpmd", BE32(0)), 1000, samples);
      return x;
    case TEmbeddedLayout::NmeaText:
    case TEmbeddedLayout::ThinkwareText:
    case TEmbeddedLayout::GarminPndm: {
      for (const TEmbeddedFix &f : fixes) {
        std::string text;
        if (recipe.layout == TEmbeddedLayout::NmeaText) {
          text = NmeaRmc(f) + "\r\n" + NmeaGga(f) + "\r\n";
        } else if (recipe.layout == TEmbeddedLayout::ThinkwareText) {
          char g[64];
          std::snprintf(g, sizeof g, "gsensori,4,512,%ld,%ld,%ld;", std::lround(f.ax * 512),
                        std::lround(f.ay * 512), std::lround(f.az * 512));
          text = g + NmeaRmc(f).substr(1) + ";CAR,0,0,0,0.0,0,0,0,0,0,0,0";
        } else {
          text = std::string("PNDM") + std::string(4, '\0') +
                 BE16(static_cast<uint16_t>(std::lround(f.speedKmh / 1.609344))) +
                 std::string(2, '\0') +
                 BE32(static_cast<uint32_t>(
                     static_cast<int32_t>(std::llround(f.lat / 180 * 2147483648.0)))) +
                 BE32(static_cast<uint32_t>(
                     static_cast<int32_t>(std::llround(f.lon / 180 * 2147483648.0)))) +
                 std::string(4, '\0');
        }
        samples.data.push_back(TextSample(text));
        samples.durations.push_back(1000);
      }
      if (recipe.layout == TEmbeddedLayout::ThinkwareText)
        x.track = TrackOf("text",
                          SampleEntry("tx3g", std::string(30, '\0') +
                                                  Box("ftab", BE16(1) + BE16(1) + "\x05Serif")),
                          1000, samples);
      else
        x.track = TrackOf("text", SampleEntry("text", std::string(44, '\0')), 1000, samples);
      return x;
    }
    case TEmbeddedLayout::BlackVue: {
      std::string gps, accel;
      const uint64_t first = fixes.empty() ? 0 : UnixMs(fixes[0]);
      for (const TEmbeddedFix &f : fixes) {
        const std::string stamp = "[" + std::to_string(UnixMs(f)) + "]";
        // Some lines end with a second stamp.
        gps += stamp + NmeaRmc(f) + "\r\n" + stamp + NmeaGga(f) + stamp + "\r\n";
        for (int k = 0; k < 2; ++k) {
          accel += BE32(static_cast<uint32_t>(UnixMs(f) - first + 500 * k));
          accel += BE16(0);
          for (double g : {f.ax, f.ay, f.az})
            accel += BE16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(g * 128))));
        }
      }
      accel += std::string(10, '\xff');
      x.topLevel.push_back(
          Box("free", Box("gps ", gps + std::string(1, '\0')) + Box("3gf ", accel)));
      return x;
    }
    case TEmbeddedLayout::Box70mai: {
      std::string box;
      for (size_t i = 0; i < fixes.size(); ++i) {
        const TEmbeddedFix &f = fixes[i];
        std::string r(36, '\0');
        PutLE32(r, 0, 1);
        PutLE32(r, 4, f.valid ? 1 : 0);
        PutLE32(r, 8, static_cast<uint32_t>(i));
        PutLE32(r, 12, static_cast<uint32_t>(std::lround(f.speedKmh * 1000)));
        r[16] = f.lat >= 0 ? 'N' : 'S';
        PutLE32(r, 17, static_cast<uint32_t>(std::lround(Ddmm(f.lat) * 1000)));
        r[21] = f.lon >= 0 ? 'E' : 'W';
        PutLE32(r, 22, static_cast<uint32_t>(std::lround(Ddmm(f.lon) * 1000)));
        box += r;
      }
      x.topLevel.push_back(Box("GPS ", box));
      return x;
    }
    case TEmbeddedLayout::Gps0: {
      std::string gps0, gsen;
      for (const TEmbeddedFix &f : fixes) {
        std::string r(32, '\0');
        PutLEd(r, 0, Ddmm(f.lat) * (f.lat < 0 ? -1 : 1));
        PutLEd(r, 8, Ddmm(f.lon) * (f.lon < 0 ? -1 : 1));
        PutLE32(r, 0x10, static_cast<uint32_t>(static_cast<int32_t>(std::lround(f.altitude))));
        r[0x14] = static_cast<char>(std::lround(f.speedKmh));
        r[0x15] = static_cast<char>(std::lround(f.speedKmh) >> 8);
        const int parts[6] = {f.year - 2000, f.month,  f.day,
                              f.hour,        f.minute, static_cast<int>(f.second)};
        for (int i = 0; i < 6; ++i) r[0x16 + i] = static_cast<char>(parts[i]);
        r[0x1c] = static_cast<char>(std::lround(f.course / 2));
        gps0 += r;
        for (int k = 0; k < 2; ++k)
          for (double g : {f.ax, f.ay, f.az}) gsen += static_cast<char>(std::lround(g * 16));
      }
      x.topLevel.push_back(Box("gps0", gps0));
      x.topLevel.push_back(Box("gsen", gsen));
      return x;
    }
    default:
      throw std::runtime_error("GenerateEmbedded: unknown layout");
  }
}

std::string Checksummed(const std::string &body) {
  uint8_t sum = 0;
  for (char c : body) sum ^= static_cast<uint8_t>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", sum);
  return "$" + body + tail;
}

std::string NmeaCoord(double degrees, int width) {
  const double a = std::fabs(degrees);
  const int d = static_cast<int>(a);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*d%08.5f", width, d, (a - d) * 60);
  return buf;
}

std::string NmeaTime(const TEmbeddedFix &f) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d%05.2f", f.hour, f.minute, f.second);
  return buf;
}

}  // namespace

std::string GpmfPayload(const std::vector<TEmbeddedFix> &fixes, bool gps9) {
  if (fixes.empty()) return {};
  const TEmbeddedFix &f0 = fixes[0];
  char gpsu[40];
  std::snprintf(gpsu, sizeof gpsu, "%02d%02d%02d%02d%02d%06.3f", f0.year % 100, f0.month, f0.day,
                f0.hour, f0.minute, f0.second);
  const bool valid = f0.valid;
  std::string gps = Klv("STNM", 'c', 1, "GPS (Lat., Long., Alt., 2D speed, 3D speed)") +
                    Klv("GPSF", 'L', 4, BE32(valid ? 3 : 0)) +
                    Klv("GPSU", 'U', 16, std::string(gpsu, 16)) + Klv("GPSP", 'S', 2, BE16(150));
  auto i32 = [](double v) {
    return BE32(static_cast<uint32_t>(static_cast<int32_t>(std::llround(v))));
  };
  if (!gps9) {
    gps += Klv("SCAL", 'l', 4, i32(1e7) + i32(1e7) + i32(1000) + i32(1000) + i32(100));
    std::string data;
    for (const TEmbeddedFix &f : fixes)
      data += i32(f.lat * 1e7) + i32(f.lon * 1e7) + i32(f.altitude * 1000) +
              i32(f.speedKmh / 3.6 * 1000) + i32(f.speedKmh / 3.6 * 100);
    gps += Klv("GPS5", 'l', 20, data);
  } else {
    gps += Klv("TYPE", 'c', 1, "lllllllSS");
    gps += Klv("SCAL", 'l', 4,
               i32(1e7) + i32(1e7) + i32(1000) + i32(1000) + i32(100) + i32(1) + i32(1000) +
                   i32(100) + i32(1));
    std::string data;
    for (const TEmbeddedFix &f : fixes) {
      const double days = static_cast<double>(UnixMs(f) / 86400000) - 10957;  // from 2000-01-01
      const double secs = (f.hour * 3600 + f.minute * 60 + f.second) * 1000;
      data += i32(f.lat * 1e7) + i32(f.lon * 1e7) + i32(f.altitude * 1000) +
              i32(f.speedKmh / 3.6 * 1000) + i32(f.speedKmh / 3.6 * 100) + i32(days) + i32(secs) +
              BE16(150) + BE16(f.valid ? 3 : 0);
    }
    gps += Klv("GPS9", '?', 32, data);
  }
  std::string accel;
  for (int k = 0; k < 10; ++k)
    for (double g : {f0.az, f0.ax, f0.ay})
      accel += BE16(static_cast<uint16_t>(static_cast<int16_t>(std::lround(g * 9.80665 * 418))));
  const std::string acclStream = Klv("STNM", 'c', 1, "Accelerometer") +
                                 Klv("SCAL", 's', 2, BE16(418)) + Klv("ACCL", 's', 6, accel);
  return Nest("DEVC", Klv("DVID", 'L', 4, BE32(1)) + Klv("DVNM", 'c', 1, "Camera") +
                          Nest("STRM", gps) + Nest("STRM", acclStream));
}

std::string NmeaRmc(const TEmbeddedFix &f) {
  char date[8];
  std::snprintf(date, sizeof date, "%02d%02d%02d", f.day, f.month, f.year % 100);
  char tail[64];
  std::snprintf(tail, sizeof tail, "%.3f,%.2f,", f.speedKmh / 1.852, f.course);
  return Checksummed("GPRMC," + NmeaTime(f) + (f.valid ? ",A," : ",V,") + NmeaCoord(f.lat, 2) +
                     (f.lat < 0 ? ",S," : ",N,") + NmeaCoord(f.lon, 3) +
                     (f.lon < 0 ? ",W," : ",E,") + tail + date + ",,,A");
}

std::string NmeaGga(const TEmbeddedFix &f) {
  char tail[64];
  std::snprintf(tail, sizeof tail, ",%d,08,0.9,%.1f,M,0.0,M,,", f.valid ? 1 : 0, f.altitude);
  return Checksummed("GPGGA," + NmeaTime(f) + "," + NmeaCoord(f.lat, 2) +
                     (f.lat < 0 ? ",S," : ",N,") + NmeaCoord(f.lon, 3) + (f.lon < 0 ? ",W" : ",E") +
                     tail);
}

}  // namespace tachora::test
