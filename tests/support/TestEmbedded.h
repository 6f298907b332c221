// Recordings with telemetry inside, made at test time: an ffmpeg clip
// (TestMedia) rewritten with the camera's boxes, blocks or track added in
// one of the layouts recorders write. The bytes are laid out here, from the
// layouts' descriptions, so that a reader's test never depends on a file
// from a camera.
//
// Files go under TestMediaDir() and are made once per name and content
// (a hash of the fixes and the recipe is part of the name), written under a
// temporary name and renamed. Functions throw std::runtime_error when
// ffmpeg or the file system fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TestMedia.h"

namespace tachora::test {

// One fix as a camera records it. Time is UTC.
struct TEmbeddedFix {
  int year = 2024, month = 5, day = 17;
  int hour = 8, minute = 30;
  double second = 0;
  double lat = 0, lon = 0;  // degrees, north/east positive
  double speedKmh = 0;
  double course = 0;
  double altitude = 0;  // metres
  bool valid = true;    // status A / a 2D-3D fix; false writes a void record
  // Accelerometer in g (layouts that carry it).
  double ax = 0, ay = 0, az = 1;
};

// `count` fixes one second apart from `start` ("YYYY-MM-DD hh:mm:ss" UTC),
// moving from (lat, lon) along `course` at `speedKmh`.
std::vector<TEmbeddedFix> MakeDrive(const std::string &start, int count, double lat, double lon,
                                    double speedKmh, double course);

enum class TEmbeddedLayout {
  FreeGpsA,          // freeGPS record at 0x30, DDMM floats, knots
  FreeGpsB,          // freeGPS record at 0x10, with accelerometer
  FreeGpsIqs,        // record at 0x30 with integer degrees x 1e7 and m/s x 100
  FreeGpsAnchor,     // the layout-B record at a firmware-specific offset
  FreeGpsXor,        // XOR-0xAA text
  FreeGpsDollarS,    // big-endian "$S" records
  FreeGps70mai,      // 70mai record (no time: one block a second)
  BlackVue,          // top-level free box with `gps ` NMEA and `3gf ` accelerometer
  Gpmf,              // gpmd track: DEVC{STRM{GPSU, GPSF, GPSP, SCAL, GPS5}, STRM{SCAL, ACCL}}
  Gpmf9,             // the same with GPS9
  NmeaText,          // text track of "$GPRMC" + "$GPGGA" samples
  ThinkwareText,     // tx3g track of "gsensori,...;GNRMC,...;CAR,..." (no '$')
  GarminPndm,        // text track of PNDM binary samples
  Box70mai,          // top-level `GPS ` box of 36-byte records
  Gps0,              // top-level `gps0` and `gsen` boxes
  Encrypted,         // freeGPS blocks with a LIGOGPSINFO header (not readable)
  FreeGpsAkaso,      // Akaso: "A" at 60, floats from 64, km/h
  FreeGpsVantrueS1,  // Vantrue S1: "ANE" at 64, lon before lat
  FreeGpsVantrueN4,  // Vantrue N4: doubles, "A" at 28
};

struct TEmbeddedClip {
  TEmbeddedLayout layout = TEmbeddedLayout::FreeGpsA;
  // freeGPS: write the moov `gps ` index (blocks always lie in mdat, on
  // 0x8000 boundaries).
  bool index = true;
  uint32_t blockSize = 0x8000;
  // Layout B: the time fields hold the camera's local clock with a full
  // year (this many hours ahead of UTC).
  int localClockHours = 0;
  // Record offset of FreeGpsAnchor.
  uint32_t anchorRecord = 0x120;
  TMediaRecipe media = [] {
    TMediaRecipe m;
    m.audio = "none";
    m.seconds = 3;
    m.width = 160;
    m.height = 120;
    return m;
  }();
};

// A playable MP4 recording carrying `fixes` in the recipe's layout.
std::string GenerateEmbedded(const std::string &name, const std::vector<TEmbeddedFix> &fixes,
                             const TEmbeddedClip &recipe = {});

// The bytes of one freeGPS block (size field first) for a fix; the
// building block of GenerateEmbedded, for tests of the decoder and fuzz
// seeds.
std::string FreeGpsBlock(const TEmbeddedFix &fix, const TEmbeddedClip &recipe);

// The payload of one GPMF sample (about a second) holding `fixes`.
std::string GpmfPayload(const std::vector<TEmbeddedFix> &fixes, bool gps9);

// NMEA sentences with checksums for a fix ("$GPRMC,...*hh").
std::string NmeaRmc(const TEmbeddedFix &fix);
std::string NmeaGga(const TEmbeddedFix &fix);

}  // namespace tachora::test
