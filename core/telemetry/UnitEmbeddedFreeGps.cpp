// Novatek-style `freeGPS ` blocks: `[u32 BE size]["free"]["GPS "]`, then a
// record whose layout depends on the firmware. The layouts are tried from
// the most specific signature to the plainest.
//
// Sources: the freeGPS record layouts in ExifTool's QuickTimeStream.pl
// (GPS types and their sample dumps) and the public nvtk_mp42gpx scripts
// (the `gps ` index check, the 0x3f0/0x58 layout switch, the anchor scan).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "app/UnitUtils.h"
#include "container/UnitMOVBoxes.h"
#include "telemetry/UnitEmbeddedReaders.h"

namespace tachora {

namespace {

// The smallest block a recorder writes with a fix in it.
constexpr size_t kMinBlock = 82;
// Blocks are 0x8000 bytes at most in practice; a larger size field is read
// no further than this.
constexpr size_t kMaxBlock = 0x10000;

uint32_t U32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t I32(const uint8_t *p) {
  return static_cast<int32_t>(U32(p));
}
float F32(const uint8_t *p) {
  const uint32_t v = U32(p);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}
double F64(const uint8_t *p) {
  const uint64_t v = uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32;
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}
uint32_t U32BE(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
uint16_t U16BE(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

bool IsNs(uint8_t c) {
  return c == 'N' || c == 'S';
}
bool IsEw(uint8_t c) {
  return c == 'E' || c == 'W';
}
bool Digits(const uint8_t *p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] < '0' || p[i] > '9') return false;
  return true;
}
int64_t DigitsValue(const uint8_t *p, size_t n) {
  int64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 10 + (p[i] - '0');
  return v;
}
// "[-+]ddd" at p.
bool SignedDigits(const uint8_t *p, size_t n, double &v) {
  if ((p[0] != '-' && p[0] != '+') || !Digits(p + 1, n - 1)) return false;
  v = static_cast<double>(DigitsValue(p + 1, n - 1)) * (p[0] == '-' ? -1 : 1);
  return true;
}

// A DDMM pair with its hemisphere letters to signed degrees.
bool Position(double lat, double lon, uint8_t ns, uint8_t ew, double &outLat, double &outLon) {
  if (!(lat >= 0) || !(lon >= 0)) return false;  // also NaN: unsigned in these layouts
  if (!DdmmToDegrees(lat, outLat) || !DdmmToDegrees(lon, outLon)) return false;
  if (ns == 'S') outLat = -outLat;
  if (ew == 'W') outLon = -outLon;
  return true;
}

// Accelerometer triple of int32 counts, unless it is the placeholder of
// all zeros or the counter 1..6 some firmware writes instead.
void AddCounts(TEmbeddedTrack &t, const uint8_t *p, double scale) {
  const int32_t x = I32(p), y = I32(p + 4), z = I32(p + 8);
  if (x == 0 && y == 0 && z == 0) return;
  if (x == 0x00020001 && y == 0x00040003 && z == 0x00060005) return;
  AddSample(t, x / scale, y / scale, z / scale);
}

// Time fields as six u32: hour, minute, second at h, year, month, day at d.
double TimeFields(const uint8_t *h, const uint8_t *d, bool &local) {
  uint32_t year = U32(d);
  local = year >= 2000;  // a full year: the camera's own clock
  if (year < 2000) year += 2000;
  if (year > 2200) return 0;
  return FixTime(static_cast<int>(year), static_cast<int>(U32(d + 4)), static_cast<int>(U32(d + 8)),
                 static_cast<int>(U32(h)), static_cast<int>(U32(h + 4)),
                 static_cast<int>(U32(h + 8)));
}

// What a layout made of a block.
enum class TBlock { NotMine, NoFix, Fix };

TBlock Result(bool fix) {
  return fix ? TBlock::Fix : TBlock::NoFix;
}

// Takes the time's clock: a track is in one clock; a file mixing both keeps
// the first clock met (the other fixes would land hours away).
bool TakeClock(TEmbeddedTrack &t, bool local) {
  if (!t.HasFix()) t.LocalClock = local;
  return t.LocalClock == local;
}

// Record at 0x10: h, m, s, y, mo, d as u32; status, hemispheres; float
// DDMM lat/lon, knots, course; accelerometer at 0x3c. `o` is the record's
// offset (0x10, or further for the firmware that moves it).
TBlock LayoutB(const uint8_t *b, size_t n, size_t o, TEmbeddedTrack &t) {
  if (n < o + 0x2c + 12) return TBlock::NotMine;
  const uint8_t *r = b + o;
  if (r[0x18] != 'A' || !IsNs(r[0x19]) || !IsEw(r[0x1a])) return TBlock::NoFix;
  bool local = false;
  const double time = TimeFields(r, r + 12, local);
  double lat, lon;
  if (time == 0 || !TakeClock(t, local) ||
      !Position(F32(r + 0x1c), F32(r + 0x20), r[0x19], r[0x1a], lat, lon))
    return TBlock::NoFix;
  const bool fix = AddFix(t, time, lat, lon, 0, F32(r + 0x24) * kKnotsToKmh, F32(r + 0x28));
  if (fix && n >= o + 0x2c + 12) AddCounts(t, r + 0x2c, 256);
  return Result(fix);
}

// Record at 0x30 (time at 0x30, status at 0x48, floats at 0x4c); the IQS
// firmware keeps integer degrees x 1e7 and m/s x 100 there, the Transcend
// DrivePro adds doubles at 0x70/0x80/0xa0, the Transcend body camera
// (0x4000-byte blocks) writes decimal degrees and km/h.
TBlock LayoutA(const uint8_t *b, size_t n, TEmbeddedTrack &t, std::string &layout) {
  if (n < 0x5c) return TBlock::NotMine;
  const uint8_t status = b[0x48];
  if (status == 'V') return TBlock::NoFix;
  if (status != 'A' || !IsNs(b[0x49]) || !IsEw(b[0x4a])) return TBlock::NotMine;
  bool local = false;
  const double time = TimeFields(b + 0x30, b + 0x3c, local);
  if (time == 0 || !TakeClock(t, local)) return TBlock::NoFix;
  const bool iqs = std::memcmp(b + 0x10, "IQS", 3) == 0;
  double lat = 0, lon = 0, speed = -1, course = -1, alt = 0;
  if (iqs) {
    layout = "freeGPS IQS";
    lat = I32(b + 0x4c) / 1e7;
    lon = I32(b + 0x50) / 1e7;
    lat = std::fabs(lat) * (b[0x49] == 'S' ? -1 : 1);
    lon = std::fabs(lon) * (b[0x4a] == 'W' ? -1 : 1);
    speed = I32(b + 0x54) / 100.0 * kMpsToKmh;
    const float a = F32(b + 0x58);
    if (std::isfinite(a) && std::fabs(a) < 20000) alt = a;
  } else {
    const double flat = F32(b + 0x4c), flon = F32(b + 0x50);
    speed = F32(b + 0x54) * kKnotsToKmh;
    course = F32(b + 0x58);
    if (!Position(flat, flon, b[0x49], b[0x4a], lat, lon)) {
      // Minutes of 60 or more: no DDMM value. The body camera's 0x4000
      // blocks hold decimal degrees and km/h.
      if (U32BE(b) != 0x4000 || !(flat >= 0 && flat <= 90 && flon >= 0 && flon <= 180))
        return TBlock::NoFix;
      layout = "freeGPS Transcend";
      lat = flat * (b[0x49] == 'S' ? -1 : 1);
      lon = flon * (b[0x4a] == 'W' ? -1 : 1);
      speed = F32(b + 0x54);
    } else if (n >= 0xb0) {
      // The DrivePro's doubles refine the floats when they agree with them.
      const double dlat = F64(b + 0x70), dlon = F64(b + 0x80), dalt = F64(b + 0xa0);
      if (std::fabs(dlat - flat) < 0.001 && std::fabs(dlon - flon) < 0.001) {
        double la, lo;
        if (Position(dlat, dlon, b[0x49], b[0x4a], la, lo)) {
          lat = la;
          lon = lo;
          if (std::isfinite(dalt) && std::fabs(dalt) < 20000) alt = dalt;
          layout = "freeGPS Transcend";
        }
      }
    }
  }
  return Result(AddFix(t, time, lat, lon, alt, speed, course));
}

// Akaso's record: h, m, s at 48; "A" at 60; float lat, N|S, float lon,
// E|W from 64 (DDMM), km/h and course; full year, month, day at 0x58.
TBlock LayoutAkaso(const uint8_t *b, size_t n, TEmbeddedTrack &t) {
  if (n < 0x64 || std::memcmp(b + 60, "A\0\0\0", 4) != 0 || !IsNs(b[68]) || !IsEw(b[76]))
    return TBlock::NotMine;
  bool local = false;
  const double time = TimeFields(b + 48, b + 0x58, local);
  double lat, lon;
  if (time == 0 || !TakeClock(t, false) ||
      !Position(F32(b + 0x40), F32(b + 0x48), b[68], b[76], lat, lon))
    return TBlock::NoFix;
  // Firmware that writes "x.xx" at 16 turns the course by half a turn.
  double course = F32(b + 0x54);
  if (b[16] == 'x' && b[17] == '.') course = std::fmod(course + 180, 360);
  return Result(AddFix(t, time, lat, lon, 0, F32(b + 0x50), course));
}

// Vantrue S1: "A", N|S, E|W at 64; y, mo, d, h, m, s from 68; float lon,
// lat (DDMM), knots, course, altitude from 0x5c; accelerometer (1/1000 g).
TBlock LayoutVantrueS1(const uint8_t *b, size_t n, TEmbeddedTrack &t) {
  if (n < 0x7c || b[64] != 'A' || !IsNs(b[65]) || !IsEw(b[66]) || b[67] != 0)
    return TBlock::NotMine;
  bool local = false;
  const double time = TimeFields(b + 80, b + 68, local);
  double lat, lon;
  if (time == 0 || !TakeClock(t, false) ||
      !Position(F32(b + 0x60), F32(b + 0x5c), b[65], b[66], lat, lon))
    return TBlock::NoFix;
  const bool fix =
      AddFix(t, time, lat, lon, F32(b + 0x6c), F32(b + 0x64) * kKnotsToKmh, F32(b + 0x68));
  if (fix) AddCounts(t, b + 0x70, 1000);
  return Result(fix);
}

// Vantrue N4/N2X: h, m, s at 16; "A" at 28; double lat, N|S at 40, double
// lon, E|W at 56 (DDMM); double knots and course; y, mo, d at 80;
// accelerometer (1/1000 g) at 92.
TBlock LayoutVantrueN4(const uint8_t *b, size_t n, TEmbeddedTrack &t) {
  if (n < 104 || b[28] != 'A' || !IsNs(b[40]) || !IsEw(b[56])) return TBlock::NotMine;
  bool local = false;
  const double time = TimeFields(b + 16, b + 80, local);
  double lat, lon;
  if (time == 0 || !TakeClock(t, false) ||
      !Position(F64(b + 32), F64(b + 48), b[40], b[56], lat, lon))
    return TBlock::NoFix;
  const bool fix = AddFix(t, time, lat, lon, 0, F64(b + 64) * kKnotsToKmh, F64(b + 72));
  if (fix) AddCounts(t, b + 92, 1000);
  return Result(fix);
}

// The XOR-0xAA text record: date, label, hemisphere-prefixed DDMM x 1e4
// digits, speed digits, accelerometer text.
TBlock LayoutXor(const uint8_t *b, size_t n, TEmbeddedTrack &t) {
  static const uint8_t kSig[] = {0xaa, 0xaa, 0xf2, 0xe1, 0xf0, 0xee, 0x54, 0x54};
  if (n < 18 + 8 || std::memcmp(b + 18, kSig, 8) != 0) return TBlock::NotMine;
  uint8_t p[0x101] = {};
  const size_t len = std::min<size_t>(n - 18, sizeof p);
  for (size_t i = 0; i < len; ++i) p[i] = b[18 + i] ^ 0xaa;
  if (len < 57 || !Digits(p + 8, 14)) return TBlock::NoFix;
  const double time =
      FixTime(static_cast<int>(DigitsValue(p + 8, 4)), static_cast<int>(DigitsValue(p + 12, 2)),
              static_cast<int>(DigitsValue(p + 14, 2)), static_cast<int>(DigitsValue(p + 16, 2)),
              static_cast<int>(DigitsValue(p + 18, 2)), static_cast<int>(DigitsValue(p + 20, 2)));
  bool fix = false;
  if (time != 0 && IsNs(p[38]) && Digits(p + 39, 8) && IsEw(p[47]) && Digits(p + 48, 9) &&
      TakeClock(t, false)) {
    double lat, lon;
    const double speed = len >= 65 && Digits(p + 57, 8) ? DigitsValue(p + 57, 8) : -1;
    if (Position(DigitsValue(p + 39, 8) / 1e4, DigitsValue(p + 48, 9) / 1e4, p[38], p[47], lat,
                 lon))
      fix = AddFix(t, time, lat, lon, 0, speed, -1);
  }
  double x, y, z;
  if (fix && len >= 173 + 12 && SignedDigits(p + 173, 4, x) && SignedDigits(p + 177, 4, y) &&
      SignedDigits(p + 181, 4, z))
    AddSample(t, x / 100, y / 100, z / 100);
  return Result(fix);
}

// Big-endian 32-byte records starting "$S" from 0x30: speed m/s x 100,
// course x 100, date, seconds x 10, signed degrees x 1e7.
TBlock LayoutDollarS(const uint8_t *b, size_t n, TEmbeddedTrack &t) {
  if (n < 0x30 + 32 || b[0x30] != '$' || b[0x31] != 'S') return TBlock::NotMine;
  bool any = false;
  for (size_t o = 0x30; o + 32 <= n && b[o] == '$' && b[o + 1] == 'S'; o += 32) {
    const uint8_t *r = b + o;
    const double time = FixTime(U16BE(r + 6), r[8], r[9], r[10], r[11], U16BE(r + 12) / 10.0);
    if (time == 0) {
      if (o == 0x30) return TBlock::NotMine;  // an implausible first date: not this layout
      continue;
    }
    const double lat = static_cast<int32_t>(U32BE(r + 15)) / 1e7;
    const double lon = static_cast<int32_t>(U32BE(r + 19)) / 1e7;
    const double course = static_cast<int16_t>(U16BE(r + 4)) / 100.0;
    if (TakeClock(t, false) &&
        AddFix(t, time, lat, lon, 0, U16BE(r + 2) / 100.0 * kMpsToKmh, course < 0 ? -1 : course))
      any = true;
  }
  return Result(any);
}

// The 70mai dash cameras' record: status at 30, int32 degrees x 1e7 at 31
// and 35, "VV" at 51; no time (one block a second from the clip's start).
TBlock Layout70mai(const uint8_t *b, size_t n, const TFreeGpsState &s, TEmbeddedTrack &t) {
  if (n < 53 || b[51] != 'V' || b[52] != 'V' || (b[30] != 'A' && b[30] != 'V'))
    return TBlock::NotMine;
  if (b[30] != 'A' || s.ClipStartUtc == 0) return TBlock::NoFix;
  const double time = s.ClipStartUtc + s.BlockIndex / kSecPerDay;
  return Result(TakeClock(t, false) &&
                AddFix(t, time, I32(b + 31) / 1e7, I32(b + 35) / 1e7, 0, -1, -1));
}

// Layouts whose coordinates are enciphered with keys we do not have.
bool EncryptedLayout(const uint8_t *b, size_t n, std::string &name) {
  for (size_t o : {16u, 48u, 80u})
    if (n >= o + 12 && std::memcmp(b + o, "LIGOGPSINFO\0", 12) == 0) {
      name = "freeGPS LIGOGPSINFO";
      return true;
    }
  // The 2013-15 hardware's ring of self-keyed records, repeated in every block.
  if (n >= 0x48 && std::memcmp(b + 0x45, "ATC", 3) == 0) {
    name = "freeGPS ATC ring";
    return true;
  }
  // Month and day at 64/68, then "A", hemispheres: the record at 0x30 has
  // the same signature, but there the floats at 0x4c/0x50 hold DDMM; these
  // blocks keep doubles under a cipher from 0x50 instead.
  double lat, lon;
  if (n >= 0x60 && b[72] == 'A' && IsNs(b[73]) && IsEw(b[74]) && b[75] == 0 && U32(b + 64) >= 1 &&
      U32(b + 64) <= 12 && U32(b + 68) >= 1 && U32(b + 68) <= 31 &&
      !(Position(F32(b + 0x4c), F32(b + 0x50), b[73], b[74], lat, lon) && lat != 0)) {
    name = "freeGPS enciphered doubles";
    return true;
  }
  return false;
}

// The newer firmware that moves the record within the block: the last
// "A", N|S, E|W triple from size - 20 backwards, trusted once two blocks in
// a row agree on its place.
TBlock LayoutAnchor(const uint8_t *b, size_t n, TFreeGpsState &s, TEmbeddedTrack &t) {
  if (n < 0x40) return TBlock::NotMine;
  int anchor = -1;
  for (size_t i = n - 20; i >= 0x24; --i)
    if (b[i] == 'A' && IsNs(b[i + 1]) && IsEw(b[i + 2])) {
      anchor = static_cast<int>(i);
      break;
    }
  if (anchor < 0) return TBlock::NotMine;
  s.AnchorVotes = anchor == s.Anchor ? s.AnchorVotes + 1 : 1;
  s.Anchor = anchor;
  if (s.AnchorVotes < 2) return TBlock::NoFix;
  return LayoutB(b, n, static_cast<size_t>(anchor) - 0x18, t);
}

}  // namespace

bool DecodeFreeGpsBlock(const uint8_t *b, size_t n, TFreeGpsState &s, TEmbeddedTrack &t) {
  if (n < 16 || std::memcmp(b + 4, "freeGPS ", 8) != 0) return false;
  n = std::min<size_t>(n, U32BE(b));
  if (n < kMinBlock) return false;
  const size_t before = t.Items.size();
  std::string layout;
  TBlock r = TBlock::NotMine;
  std::string encrypted;
  if ((r = LayoutXor(b, n, t)) != TBlock::NotMine) {
    layout = "freeGPS XOR text";
  } else if (EncryptedLayout(b, n, encrypted)) {
    s.Unreadable = true;
    s.UnreadableLayout = encrypted;
    r = TBlock::NoFix;
  } else if (b[37] == 0 && b[38] == 0 && b[39] == 0 && (b[40] == 'A' || b[40] == 'V') &&
             (r = LayoutB(b, n, 0x10, t)) != TBlock::NotMine) {
    layout = "freeGPS B";
  } else if (n >= 0x2c + 48 + 12 && b[85] == 0 && b[86] == 0 && b[87] == 0 && b[88] == 'A' &&
             (r = LayoutB(b, n, 0x10 + 48, t)) != TBlock::NotMine) {
    layout = "freeGPS B";
  } else if ((r = LayoutAkaso(b, n, t)) != TBlock::NotMine) {
    layout = "freeGPS Akaso";
  } else if ((r = LayoutVantrueS1(b, n, t)) != TBlock::NotMine) {
    layout = "freeGPS Vantrue S1";
  } else if ((r = LayoutVantrueN4(b, n, t)) != TBlock::NotMine) {
    layout = "freeGPS Vantrue N4";
  } else if ((r = Layout70mai(b, n, s, t)) != TBlock::NotMine) {
    layout = "freeGPS 70mai";
  } else if ((r = LayoutDollarS(b, n, t)) != TBlock::NotMine) {
    layout = "freeGPS $S";
  } else if ((r = LayoutA(b, n, t, layout)) != TBlock::NotMine) {
    if (layout.empty()) layout = "freeGPS A";
  } else if ((r = LayoutAnchor(b, n, s, t)) != TBlock::NotMine) {
    layout = "freeGPS moving record";
  }
  if (r == TBlock::NotMine && t.Items.size() == before) {
    // No status byte where any layout keeps it: a block written before the
    // first fix, or one of a layout we do not know.
    const bool waiting = b[0x28] == 0 && b[0x48] == 0;
    if (!waiting) {
      s.Unreadable = true;
      if (s.UnreadableLayout.empty()) s.UnreadableLayout = "freeGPS";
    }
  }
  if (!layout.empty()) s.Layout = layout;
  ++s.BlockIndex;
  t.Bytes += static_cast<int64_t>(n);
  return true;
}

namespace {

// The blocks of one recording share their layout, and most layouts keep
// their record in the block's first bytes: each block is read only that
// far, the first one too, while the blocks keep giving points in such a
// layout. A 32 KB block holds a record of a few hundred bytes, and a card
// of recordings would otherwise be read through its blocks whole. A head
// that gives no point, or gives it in a layout that may reach further, is
// read again whole, from the state before it.
constexpr size_t kHeadBytes = 0x100;  // the furthest such record ends at 0xcb

bool RecordInHead(const std::string &layout) {
  return !layout.empty() && layout != "freeGPS moving record" && layout != "freeGPS $S";
}

bool DecodeHead(const TMOVStream &stream, const TBlockRef &e, uint8_t *buf, TFreeGpsState &state,
                TEmbeddedTrack &t) {
  size_t got = 0;
  try {
    got = stream.ReadAt(e.offset, buf, kHeadBytes);
  } catch (const TMOVError &) {
    return false;
  }
  if (got < kHeadBytes || U32BE(buf) != e.size) return false;
  const TFreeGpsState before = state;
  const size_t items = t.Items.size();
  const int64_t bytes = t.Bytes;
  const bool localClock = t.LocalClock;
  if (DecodeFreeGpsBlock(buf, got, state, t) && t.Items.size() > items &&
      RecordInHead(state.Layout))
    return true;
  state = before;
  t.Items.resize(items);
  t.Bytes = bytes;
  t.LocalClock = localClock;
  return false;
}

}  // namespace

bool ReadFreeGpsIndexed(const TMOVStream &stream, const std::vector<TBlockRef> &entries,
                        TFreeGpsState &state, TEmbeddedTrack &t) {
  const int64_t fileSize = stream.Size();
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kMaxBlock]);
  bool any = false;
  for (const TBlockRef &e : entries) {
    if (e.offset <= 0 || e.size < kMinBlock || e.offset + e.size > fileSize) continue;
    const size_t want = std::min<size_t>(e.size, kMaxBlock);
    // The first block's head, then the head of every block after one in
    // such a layout.
    if (want > kHeadBytes && (state.BlockIndex == 0 || RecordInHead(state.Layout)) &&
        DecodeHead(stream, e, buf.get(), state, t)) {
      any = true;
      continue;
    }
    size_t got = 0;
    try {
      got = stream.ReadAt(e.offset, buf.get(), want);
    } catch (const TMOVError &) {
      continue;
    }
    // The entry must point at a block whose own size it repeats.
    if (got < 16 || U32BE(buf.get()) != e.size) continue;
    if (DecodeFreeGpsBlock(buf.get(), got, state, t)) any = true;
  }
  return any;
}

bool ScanFreeGps(const TMOVStream &stream, int64_t from, int64_t to, TFreeGpsState &state,
                 TEmbeddedTrack &t) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kMaxBlock]);
  bool any = false;
  const int64_t fileSize = stream.Size();
  ScanForPattern(stream, from + 4, to, "freeGPS ", [&](int64_t hit) {
    const int64_t at = hit - 4;
    if (at < state.ScanNext) return true;  // inside a block already read
    size_t got = 0;
    try {
      got = stream.ReadAt(at, buf.get(), kMaxBlock);
    } catch (const TMOVError &) {
      return true;
    }
    if (got < 16) return true;
    const uint32_t size = U32BE(buf.get());
    if (size < kMinBlock || at + size > fileSize) return true;
    if (DecodeFreeGpsBlock(buf.get(), std::min<size_t>(got, size), state, t)) {
      any = true;
      state.ScanNext = at + size;
    }
    return true;
  });
  return any;
}

}  // namespace tachora
