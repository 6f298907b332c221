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
[[maybe_unused]] void PutLEd(std::string &b, size_t at, double d) {
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
[[maybe_unused]] std::string BE16(uint16_t v) {
  std::string s(2, '\0');
  PutBE16(s, 0, v);
  return s;
}
[[maybe_unused]] std::string BE64(uint64_t v) {
  return BE32(static_cast<uint32_t>(v >> 32)) + BE32(static_cast<uint32_t>(v));
}
uint32_t GetBE32(const std::string &b, size_t at) {
  return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 |
         uint32_t(uint8_t(b[at + 2])) << 8 | uint32_t(uint8_t(b[at + 3]));
}
std::string Box(const char *type, const std::string &payload) {
  return BE32(static_cast<uint32_t>(payload.size() + 8)) + std::string(type, 4) + payload;
}
[[maybe_unused]] std::string FullBox(const char *type, uint32_t versionFlags,
                                     const std::string &payload) {
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

[[maybe_unused]] std::string Stamp14(const TEmbeddedFix &f) {
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

std::string FreeGpsBlock(const TEmbeddedFix &f, const TEmbeddedSpec &spec) {
  const uint32_t size = spec.blockSize;
  switch (spec.layout) {
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
      PutRecordB(b, 0x10, f, spec.localClockHours);
      return b;
    }
    case TEmbeddedLayout::FreeGpsAnchor: {
      std::string b = BlockHeader(size, 0x1f0);
      PutRecordB(b, spec.anchorRecord, f, 0);
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

std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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

std::string ContentKey(const std::vector<TEmbeddedFix> &fixes, const TEmbeddedSpec &s) {
  std::ostringstream o;
  o.precision(12);
  o << static_cast<int>(s.layout) << '|' << s.index << '|' << s.blockSize << '|'
    << s.localClockHours << '|' << s.anchorRecord << '|' << s.media.seconds << '|' << s.media.video
    << '|' << s.media.extraArgs << '|' << s.media.creationTime;
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
    case TEmbeddedLayout::Encrypted:
      return true;
    default:
      return false;
  }
}

TExtras ExtrasFor(const std::vector<TEmbeddedFix> &fixes, const TEmbeddedSpec &spec);

}  // namespace

std::string GenerateEmbedded(const std::string &name, const std::vector<TEmbeddedFix> &fixes,
                             const TEmbeddedSpec &spec) {
  fs::path path = fs::path(TestMediaDir()) / (name + "-" + ContentKey(fixes, spec) + ".mp4");
  if (fs::exists(path)) return path.string();
  TMediaSpec media = spec.media;
  media.faststart = false;
  const std::string clip = GenerateMp4("embedded-clip", media);
  const std::string bytes = Rewrite(clip, ExtrasFor(fixes, spec));
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

TExtras ExtrasFor(const std::vector<TEmbeddedFix> &fixes, const TEmbeddedSpec &spec) {
  TExtras x;
  if (IsFreeGps(spec.layout)) {
    for (const TEmbeddedFix &f : fixes) x.mdatBlocks.push_back(FreeGpsBlock(f, spec));
    x.gpsIndex = spec.index;
    return x;
  }
  throw std::runtime_error("GenerateEmbedded: layout not made yet");
}

}  // namespace

std::string GpmfPayload(const std::vector<TEmbeddedFix> &, bool) {
  throw std::runtime_error("GpmfPayload: not made yet");
}
std::string NmeaRmc(const TEmbeddedFix &) {
  throw std::runtime_error("NmeaRmc: not made yet");
}
std::string NmeaGga(const TEmbeddedFix &) {
  throw std::runtime_error("NmeaGga: not made yet");
}

}  // namespace tachora::test
