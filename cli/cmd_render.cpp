// tachora-cli render: a part of a trip re-encoded to MP4 with the cameras
// laid out in one picture and the telemetry burned in.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliConventions.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitChannels.h"
#include "catalogue/UnitFileManager.h"
#include "container/UnitMOV.h"
#include "render/UnitRender.h"
#include "render/UnitRenderTrip.h"

namespace tachora::cli {
namespace {

const char *kUsage =
    "usage: tachora-cli render --from A --to B [--layout pip|side|main] "
    "[--overlay speed,time,position,gsensor] [--units U] [--overwrite] -o OUT.mp4 FILE...\n";

// Seconds of the trip: "75", "75.5", "1:15", "0:01:15.5"; false for
// anything else (a negative or an out-of-range minute or second).
bool ParseTripTime(const std::string &text, double &out) {
  const std::vector<std::string> parts = SplitString(text, ':');
  if (parts.empty() || parts.size() > 3) return false;
  double total = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string &p = parts[i];
    const bool last = i + 1 == parts.size();
    if (p.empty() || p.find_first_not_of(last ? "0123456789." : "0123456789") != std::string::npos)
      return false;
    const long double v = ParseFloatDot(p, -1);
    if (v < 0 || !std::isfinite(static_cast<double>(v))) return false;
    if (i > 0 && v >= 60) return false;
    total = total * 60 + static_cast<double>(v);
  }
  out = total;
  return true;
}

// The files as a trip: cameras of one moment paired, each moment's main
// file opened in a catalogue, all moments joined into one row.
struct TTripLoad {
  TRowTelemetry Loaded;
  TRenderTrip Trip;
};

std::string Canonical(const std::string &path) {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

bool LoadTrip(const std::vector<std::string> &files, TTripLoad &out) {
  std::vector<std::string> readable;
  for (const std::string &f : files) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(f, ec))
      std::cerr << "render: " << f << ": no such file\n";
    readable.push_back(f);  // a missing rear still belongs to its moment
  }
  std::map<std::string, std::vector<std::string>> channelsOf;
  TFileManager catalogue(false, nullptr);
  for (const std::vector<std::string> &group : GroupChannels(readable)) {
    const std::string &main = group.front();
    TMOVReader probe(main, true);
    if (!probe.HasMovie()) {
      std::cerr << "render: " << main << ": " << probe.Error() << "\n";
      continue;
    }
    if (catalogue.OpenRecording(main).Items.empty()) {
      std::cerr << "render: " << main << ": cannot be read\n";
      continue;
    }
    channelsOf[Canonical(main)].assign(group.begin() + 1, group.end());
  }
  if (catalogue.RowCount() == 0) {
    std::cerr << "render: none of the files has a readable movie\n";
    return false;
  }
  std::vector<int> rows(static_cast<size_t>(catalogue.RowCount()));
  std::iota(rows.begin(), rows.end(), 0);
  catalogue.MergeItems(rows, false);
  out.Loaded = LoadRowTelemetry(catalogue, catalogue.GetItem(0));
  // The catalogue may already know the cameras of each moment; the command
  // line's own pairing fills in where it does not.
  for (TFileItemSubitem &r : out.Loaded.Row.Items) {
    if (!r.Channels.empty()) continue;
    if (const auto marker = ChannelOfPath(r.Path)) r.Channel = marker->Channel;
    for (const std::string &p : channelsOf[Canonical(r.Path)]) {
      TChannelFile c;
      c.Path = p;
      if (const auto marker = ChannelOfPath(p)) c.Channel = marker->Channel;
      r.Channels.push_back(c);
    }
  }
  out.Trip = MakeRenderTrip(out.Loaded.Row, out.Loaded.Tracks);
  return true;
}

std::string Clock(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

int RunRender(const std::vector<std::string> &args) {
  TRenderOptions options;
  bool haveFrom = false, haveTo = false;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    std::string v;
    auto value = [&]() {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    if (a == "--from" || a == "--to") {
      double t = 0;
      if (!value()) {
        std::cerr << "render: " << a << " needs a value\n" << kUsage;
        return 2;
      }
      if (!ParseTripTime(v, t)) {
        std::cerr << "render: " << a
                  << " must be a time in the trip (seconds, m:ss or h:mm:ss), not '" << v << "'\n";
        return 2;
      }
      (a == "--from" ? options.From : options.To) = t;
      (a == "--from" ? haveFrom : haveTo) = true;
    } else if (a == "--layout") {
      if (!value() || !ParseLayout(v, options.Layout)) {
        std::cerr << "render: --layout takes pip, side or main\n";
        return 2;
      }
    } else if (a == "--overlay") {
      if (!value() || !ParseOverlay(v, options.Overlay)) {
        std::cerr << "render: --overlay takes a comma list of speed, time, position, gsensor\n";
        return 2;
      }
    } else if (a == "--units") {
      if (!value() || !ParseUnits(v, options.Units)) {
        std::cerr << "render: --units takes 'metric' or 'imperial'\n";
        return 2;
      }
    } else if (a == "--encoder") {
      if (!value()) {
        std::cerr << "render: --encoder needs a name\n";
        return 2;
      }
      options.Encoders = SplitString(v, ',');
    } else if (a == "--preset") {
      if (!value() || v.empty()) {
        std::cerr << "render: --preset needs a libx264 speed preset\n";
        return 2;
      }
      options.Preset = v;
    } else if (a == "--overwrite") {
      options.Overwrite = true;
    } else if (a == "-o" || a == "--output") {
      if (!value()) {
        std::cerr << "render: -o needs a file name\n" << kUsage;
        return 2;
      }
      options.Output = v;
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "render: unknown option " << a << "\n" << kUsage;
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (!haveFrom || !haveTo || options.Output.empty() || files.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  if (options.To <= options.From) {
    std::cerr << "render: the end (--to) must lie after the start (--from)\n";
    return 1;
  }
  TTripLoad load;
  if (!LoadTrip(files, load)) return 1;
  const double length = TripSeconds(load.Loaded.Row);
  if (length > 0 && options.From >= length) {
    std::cerr << "render: the trip lasts " << Clock(length) << "; --from lies after its end\n";
    return 1;
  }

  const bool showProgress = ShowProgress();
  int lastPercent = -1;
  auto progress = [&](const TRenderProgress &p) {
    if (!showProgress) return true;
    const int percent = static_cast<int>(p.Fraction * 100);
    if (percent != lastPercent) {
      std::cerr << "\rrendering " << percent << "%"
                << (p.RemainingSeconds >= 0 ? ", " + Clock(p.RemainingSeconds) + " left" : "")
                << "      " << std::flush;
      lastPercent = percent;
    }
    return true;
  };
  const TRenderResult res = RenderTrip(load.Trip, options, progress);
  if (lastPercent >= 0) std::cerr << "\n";
  for (const TRenderNote &n : res.Notes) std::cerr << "render: " << RenderNoteText(n) << "\n";
  if (!res.Written) {
    std::cerr << "render: " << RenderErrorText(res) << "\n";
    return 1;
  }
  if (ShowSummary())
    std::cerr << "render: " << res.Frames << " frames, " << res.Width << "x" << res.Height << ", "
              << res.Encoder << (res.HasSound ? " + aac" : ", no sound") << "\n";
  std::cout << res.Path << "\n";
  return 0;
}

TCliCommandRegistrar gRender({"render", kRenderUsage, RunRender});

}  // namespace
}  // namespace tachora::cli
