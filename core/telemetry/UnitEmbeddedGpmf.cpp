// GoPro's GPMF in a `gpmd` track: nested key-length-value entries (a 4-byte
// key, a type character, the size of one struct, a 16-bit repeat count,
// the payload padded to 4 bytes; numbers big-endian). Metadata such as SCAL
// and TYPE applies to the data that follows it in the same stream.
//
// Sources: gopro/gpmf-parser README and docs/README.md (KLV rules, GPS5,
// GPS9, GPSU, GPSF, ACCL with SCAL).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/UnitUtils.h"
#include "telemetry/UnitEmbeddedReaders.h"

namespace tachora {

namespace {

constexpr int kMaxDepth = 8;
constexpr double kGravity = 9.80665;

struct TKlv {
  char key[4];
  char type = 0;
  size_t structSize = 0;
  size_t repeat = 0;
  const uint8_t *data = nullptr;
};

// The entry at p, moving p past it; false at the end or when the entry
// would reach past `end`.
bool NextKlv(const uint8_t *&p, const uint8_t *end, TKlv &k) {
  if (end - p < 8) return false;
  std::memcpy(k.key, p, 4);
  k.type = static_cast<char>(p[4]);
  k.structSize = p[5];
  k.repeat = static_cast<size_t>(p[6] << 8 | p[7]);
  const size_t size = k.structSize * k.repeat;
  if (size > static_cast<size_t>(end - p - 8)) return false;
  k.data = p + 8;
  p += 8 + std::min<size_t>((size + 3) & ~size_t(3), static_cast<size_t>(end - p - 8));
  return true;
}

bool Is(const TKlv &k, const char *key) {
  return std::memcmp(k.key, key, 4) == 0;
}

size_t TypeSize(char t) {
  switch (t) {
    case 'b':
    case 'B':
    case 'c':
      return 1;
    case 's':
    case 'S':
      return 2;
    case 'l':
    case 'L':
    case 'f':
    case 'F':
      return 4;
    case 'd':
    case 'j':
    case 'J':
    case 'q':
    case 'Q':
      return 8;
    default:
      return 0;
  }
}

double ReadNumber(const uint8_t *p, char t) {
  uint64_t v = 0;
  const size_t n = TypeSize(t);
  for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
  switch (t) {
    case 'b':
      return static_cast<int8_t>(v);
    case 's':
      return static_cast<int16_t>(v);
    case 'l':
      return static_cast<int32_t>(v);
    case 'j':
      return static_cast<double>(static_cast<int64_t>(v));
    case 'f': {
      const uint32_t u = static_cast<uint32_t>(v);
      float f;
      std::memcpy(&f, &u, 4);
      return f;
    }
    case 'd': {
      double d;
      std::memcpy(&d, &v, 8);
      return d;
    }
    default:
      return static_cast<double>(v);
  }
}

// The numbers of struct i: by the entry's own type, or by TYPE for '?'.
std::vector<double> Struct(const TKlv &k, size_t i, const std::string &types) {
  std::vector<double> out;
  if (i >= k.repeat) return out;  // an entry repeated 0 times holds no struct
  const uint8_t *p = k.data + i * k.structSize;
  const uint8_t *end = p + k.structSize;
  if (k.type == '?') {
    for (char t : types) {
      const size_t n = TypeSize(t);
      if (n == 0 || p + n > end) break;
      out.push_back(ReadNumber(p, t));
      p += n;
    }
  } else if (const size_t n = TypeSize(k.type)) {
    for (; p + n <= end; p += n) out.push_back(ReadNumber(p, k.type));
  }
  return out;
}

// "yymmddhhmmss.sss" (UTC) to a TDateTime; 0 when malformed.
double GpsuTime(const TKlv &k) {
  if (k.structSize * k.repeat < 16) return 0;
  const char *s = reinterpret_cast<const char *>(k.data);
  for (int i = 0; i < 12; ++i)
    if (s[i] < '0' || s[i] > '9') return 0;
  auto two = [&](int at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
  double ms = 0;
  if (s[12] == '.' && s[13] >= '0' && s[13] <= '9' && s[14] >= '0' && s[14] <= '9' &&
      s[15] >= '0' && s[15] <= '9')
    ms = ((s[13] - '0') * 100 + (s[14] - '0') * 10 + (s[15] - '0')) / 1000.0;
  return FixTime(2000 + two(0), two(2), two(4), two(6), two(8), two(10) + ms);
}

// A record with its place in the sample (0..1): fixes and accelerometer
// samples are laid out by it, whatever clocks time them.
struct TTimed {
  double at;
  TTrackRecord rec;
};

class TGpmfWalk {
 public:
  TGpmfWalk(double sampleUtc, double seconds) : start_(sampleUtc), seconds_(seconds) {}
  void Walk(const uint8_t *p, const uint8_t *end, int depth) {
    if (depth > kMaxDepth) return;
    // What the stream's metadata said so far (sticky within this nest).
    std::vector<double> scal;
    std::string types;
    double gpsu = 0;
    int fix = -1;
    TKlv k;
    while (NextKlv(p, end, k)) {
      if (k.type == 0) {
        Walk(k.data, k.data + k.structSize * k.repeat, depth + 1);
      } else if (Is(k, "SCAL")) {
        scal.clear();
        for (size_t i = 0; i < k.repeat; ++i)
          for (double v : Struct(k, i, "")) scal.push_back(v);
      } else if (Is(k, "TYPE")) {
        types.assign(reinterpret_cast<const char *>(k.data), k.structSize * k.repeat);
        types.erase(std::find(types.begin(), types.end(), '\0'), types.end());
      } else if (Is(k, "GPSU")) {
        gpsu = GpsuTime(k);
      } else if (Is(k, "GPSF")) {
        const auto v = Struct(k, 0, "");
        if (!v.empty()) fix = TruncToInt(v[0], 0);
      } else if (Is(k, "GPS5") || Is(k, "GPS9")) {
        Fixes(k, scal, types, gpsu, fix, Is(k, "GPS9"));
      } else if (Is(k, "ACCL")) {
        Accel(k, scal);
      }
    }
  }
  std::vector<TTimed> Items;

 private:
  static double Scaled(const std::vector<double> &v, const std::vector<double> &scal, size_t j) {
    const double s = scal.empty() ? 1 : scal[std::min(j, scal.size() - 1)];
    return s != 0 ? v[j] / s : v[j];
  }
  void Fixes(const TKlv &k, const std::vector<double> &scal, const std::string &types, double gpsu,
             int fix, bool gps9) {
    if (!gps9 && fix >= 0 && fix < 2) return;  // no fix for the whole sample
    const double t0 = gpsu > 0 ? gpsu : start_;
    for (size_t i = 0; i < k.repeat; ++i) {
      const std::vector<double> v = Struct(k, i, types);
      if (v.size() < (gps9 ? 9u : 5u)) return;
      double time = t0 + seconds_ * static_cast<double>(i) / k.repeat / kSecPerDay;
      if (gps9) {
        if (Scaled(v, scal, 8) < 2) continue;
        const double days = Scaled(v, scal, 5), secs = Scaled(v, scal, 6);
        if (days > 0 && days < 80000 && secs >= 0 && secs < 86400)
          time = EncodeDate(2000, 1, 1) + days + secs / kSecPerDay;
      }
      if (time <= 0) continue;
      TEmbeddedTrack t;
      if (AddFix(t, time, Scaled(v, scal, 0), Scaled(v, scal, 1), Scaled(v, scal, 2),
                 Scaled(v, scal, 3) * kMpsToKmh, -1))
        Items.push_back({static_cast<double>(i) / k.repeat, t.Items.back()});
    }
  }
  void Accel(const TKlv &k, const std::vector<double> &scal) {
    for (size_t i = 0; i < k.repeat; ++i) {
      const std::vector<double> v = Struct(k, i, "");
      if (v.size() < 3) return;
      TEmbeddedTrack t;
      // Recorded as Z, X, Y in m/s^2.
      AddSample(t, Scaled(v, scal, 1) / kGravity, Scaled(v, scal, 2) / kGravity,
                Scaled(v, scal, 0) / kGravity);
      if (!t.Items.empty()) Items.push_back({static_cast<double>(i) / k.repeat, t.Items.back()});
    }
  }
  double start_, seconds_;
};

}  // namespace

void ReadGpmfSample(std::string_view sample, double sampleUtc, double seconds, TEmbeddedTrack &t) {
  const auto *p = reinterpret_cast<const uint8_t *>(sample.data());
  t.Bytes += static_cast<int64_t>(sample.size());
  if (sample.size() < 8 || std::memcmp(p, "DEVC", 4) != 0) return;
  TGpmfWalk walk(sampleUtc, seconds);
  walk.Walk(p, p + sample.size(), 0);
  // Fixes and samples in the order they were taken.
  std::stable_sort(walk.Items.begin(), walk.Items.end(),
                   [](const TTimed &a, const TTimed &b) { return a.at < b.at; });
  for (const TTimed &x : walk.Items) t.Items.push_back(x.rec);
}

}  // namespace tachora
