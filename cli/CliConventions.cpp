#include "CliConventions.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>

#include "CliCommands.h"

namespace tachora::cli {

namespace {

struct THelp {
  const char *summary;
  const char *text;
};

// Keyed by command name; a command without an entry shows its usage alone.
const std::map<std::string, THelp> &HelpTexts() {
  static const std::map<std::string, THelp> texts = {
      {"list",
       {"list the recordings of folders and files, grouped into trips",
        "Lists the recordings found in the given folders and files as the\n"
        "program's list shows them: one row per trip, tab-separated columns\n"
        "under a header line. The files of the cameras of one moment (front,\n"
        "rear, interior) are one recording; the Channels column names them.\n"
        "  --no-group            one row per recording, GPS logs not matched\n"
        "  --sort COLUMN[,desc]  sort by column 0-10 (0 name ... 9 events, 10 channels)\n"
        "  --units U             'metric' (default) or 'imperial' Track and Speed\n"
        "  --json                one JSON object instead of the columns\n"
        "Example: tachora-cli list --json /media/card\n"}},
      {"copy",
       {"copy trips with their telemetry to another folder",
        "Copies each trip found in PATH (its recordings and telemetry files)\n"
        "into a folder of its own under FOLDER.\n"
        "  --to FOLDER   where the trips go (required)\n"
        "  --overwrite   replace files that exist (skipped otherwise)\n"
        "  --verify      read each copy back and write SHA256SUMS\n"
        "  --no-group    one folder per recording\n"
        "Example: tachora-cli copy --to ~/Trips /media/card\n"}},
      {"info",
       {"show the movie structure of a MOV/MP4 file",
        "Prints what the container reader sees in FILE: duration, time scale,\n"
        "creation time, picture size and the tracks.\n"
        "  --headers-only  read only the movie header\n"
        "  --samples       also every sample's offset, size, time and key flag\n"
        "  --json          one JSON object instead of the lines\n"
        "Example: tachora-cli info FILE0001.MOV\n"}},
      {"cut",
       {"cut a fragment of a trip into a new recording",
        "Joins the given files into one trip and writes the part from fraction\n"
        "A to fraction B (0 = start, 1 = end) to OUT, with its telemetry.\n"
        "  --from A, --to B  the fragment as trip fractions, A < B\n"
        "  --no-video, --no-audio, --no-meta  leave that part out\n"
        "  -o OUT            the new recording\n"
        "  --overwrite       replace OUT and its .dat when they exist (refused otherwise)\n"
        "Example: tachora-cli cut --from 0.25 --to 0.5 -o part.mov FILE0001.MOV FILE0002.MOV\n"}},
      {"render",
       {"re-encode a part of a trip to MP4 with both cameras and the telemetry in the picture",
        "Pairs the cameras of each moment among FILE (front, rear, ...), joins the\n"
        "moments into one trip and re-encodes the part from time A to time B to\n"
        "OUT as H.264 + AAC MP4, with the time, speed, position and G-force drawn\n"
        "into the picture. A gap between recordings is left out. A missing or\n"
        "shorter rear shows black; the render goes on.\n"
        "  --from A, --to B  times in the trip: seconds, m:ss or h:mm:ss, A < B\n"
        "  --layout L        'pip' (rear as an inset, default), 'side' or 'main'\n"
        "  --overlay LIST    comma list of speed, time, position, gsensor\n"
        "                    (default all; an empty list draws nothing)\n"
        "  --units U         'metric' (default, km/h) or 'imperial' (mph)\n"
        "  --encoder NAMES   H.264 encoders to try in turn (default: hardware, then libx264)\n"
        "  --preset P        libx264's speed preset (default superfast; ultrafast is quicker)\n"
        "  -o OUT            the new movie\n"
        "  --overwrite       replace OUT when it exists (refused otherwise)\n"
        "Example: tachora-cli render --from 1:00 --to 1:30 -o clip.mp4 0612_093000_F.MP4\n"
        "         0612_093000_R.MP4   (the front and the rear camera of one moment)\n"}},
      {"telemetry",
       {"show the GPS and G-sensor statistics of a file",
        "Reads the telemetry of FILE (a recorder .dat, a GPS log or a recording)\n"
        "and prints its statistics.\n"
        "  --points       also every GPS point (G lines) and G-sensor sample (S lines)\n"
        "  --events       also the G-force events (E lines: start, peak time, peak g)\n"
        "  --threshold G  events above G instead of 0.5 g (implies --events)\n"
        "  --units U      'metric' (default) or 'imperial': track length in miles,\n"
        "                 average speed in mph\n"
        "  --json         one JSON object instead of the lines\n"
        "Example: tachora-cli telemetry --events FILE0001.DAT\n"}},
      {"convert",
       {"convert GPS logs to KML, PLT, GPX, DAT or NMEA",
        "Writes each FILE's track beside it in every format of the comma list\n"
        "FORMATS and prints the names written.\n"
        "  --overwrite   replace files that exist (refused otherwise)\n"
        "Example: tachora-cli convert --to gpx,kml FILE0001.DAT\n"}},
      {"export",
       {"join the tracks of several files into one file",
        "Writes the tracks of all FILEs, one after the other, as one track in\n"
        "the format EXT (kml, plt, gpx, dat or nmea) to OUT.\n"
        "Example: tachora-cli export --format gpx -o trip.gpx FILE0001.DAT FILE0002.DAT\n"}},
      {"repair",
       {"rebuild a recording cut off by power loss",
        "Rebuilds a recording whose sample tables were never written (the camera\n"
        "lost power) into the new file OUT, learning the formats from a healthy\n"
        "recording of the same camera. The broken file is not changed. Prints\n"
        "the seconds of picture and sound, frames and bytes recovered; exit 0\n"
        "only when a playable file was written.\n"
        "  --reference FILE  the healthy recording to learn from (default: the\n"
        "                    nearest one in BROKEN's folder with the same formats)\n"
        "  -o OUT            the new file\n"
        "Example: tachora-cli repair -o FILE0042_repaired.MOV FILE0042.MOV\n"}},
      {"state",
       {"show the vehicle's state at a point of a file's track",
        "Prints the interpolated GPS point and G-sensor sample at FRACTION\n"
        "(0 = start, 1 = end) of FILE's telemetry.\n"
        "Example: tachora-cli state FILE0001.DAT 0.5\n"}},
  };
  return texts;
}

TProgressMode gProgress = TProgressMode::Auto;

// Length of the UTF-8 sequence at s[i], 0 when it is not valid UTF-8.
size_t Utf8Length(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return n;
}

}  // namespace

std::string CommandHelp(const std::string &name) {
  const auto it = HelpTexts().find(name);
  return it == HelpTexts().end() ? std::string() : it->second.text;
}

std::string CommandSummary(const std::string &name) {
  const auto it = HelpTexts().find(name);
  return it == HelpTexts().end() ? std::string() : it->second.summary;
}

bool AsksForHelp(const std::vector<std::string> &args) {
  for (const std::string &a : args) {
    if (a == "--") return false;
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

void PrintCommandHelp(const TCliCommand &command, std::ostream &out) {
  out << "Usage: tachora-cli " << command.usage << "\n";
  const std::string text = CommandHelp(command.name);
  if (!text.empty()) out << "\n" << text;
  out << "\nCommon options: --quiet (no progress), --progress (progress into a pipe too),\n"
         "--help. Exit status: 0 success, 1 failure, 2 bad usage.\n";
}

bool TakeProgressOptions(std::vector<std::string> &args) {
  bool quiet = false, progress = false;
  std::vector<std::string> kept;
  bool options = true;
  for (std::string &a : args) {
    if (a == "--") options = false;
    if (options && a == "--quiet")
      quiet = true;
    else if (options && a == "--progress")
      progress = true;
    else
      kept.push_back(std::move(a));
  }
  args = std::move(kept);
  if (quiet && progress) {
    std::cerr << "tachora-cli: --quiet and --progress exclude each other\n";
    return false;
  }
  SetProgressMode(quiet      ? TProgressMode::Quiet
                  : progress ? TProgressMode::Always
                             : TProgressMode::Auto);
  return true;
}

void SetProgressMode(TProgressMode mode) {
  gProgress = mode;
}

bool ShowProgress() {
  if (gProgress != TProgressMode::Auto) return gProgress == TProgressMode::Always;
  return isatty(fileno(stderr)) != 0;
}

bool ShowSummary() {
  return gProgress != TProgressMode::Quiet;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string JsonNumber(std::string_view text) {
  const std::string s(text);
  char *end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  // strtod also takes "inf", "nan", hex and a leading "+", which JSON does not.
  const bool plain = !s.empty() && s.find_first_not_of("0123456789.-eE") == std::string::npos &&
                     std::isdigit(static_cast<unsigned char>(s.back())) &&
                     std::isdigit(static_cast<unsigned char>(s[s[0] == '-' ? 1 : 0]));
  if (!plain || end != s.c_str() + s.size() || !std::isfinite(v)) return "null";
  return s;
}

TJsonObject &TJsonObject::Raw(std::string_view key, std::string_view json) {
  if (!body_.empty()) body_ += ',';
  body_ += JsonString(key);
  body_ += ':';
  body_ += json;
  return *this;
}

std::string JsonArray(const std::vector<std::string> &values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += ',';
    out += values[i];
  }
  return out + "]";
}

}  // namespace tachora::cli
