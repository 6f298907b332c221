// tachora-cli list / copy: the catalogue on the command line. Paths are
// opened as the open dialog does (files, a .dat opens its video, folders
// are scanned like a search root), then GPS logs are matched and trips
// grouped unless --no-group.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "CliCommands.h"
#include "CliConventions.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitCopyEngine.h"
#include "catalogue/UnitFileManager.h"

namespace tachora::cli {

namespace {

struct TCatalogueArgs {
  bool group = true;
  int sortColumn = 0;
  bool descending = false;
  bool overwrite = false;
  bool verify = false;  // read each copy back and compare, write SHA256SUMS
  bool json = false;
  TUnits units = TUnits::Metric;
  std::string target;
  std::vector<std::string> paths;
};

// Returns an error text, empty when the arguments are fine.
std::string ParseArgs(const std::vector<std::string> &args, bool forCopy, TCatalogueArgs &out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--no-group") {
      out.group = false;
    } else if (a == "--sort" && !forCopy) {
      if (i + 1 >= args.size()) return "--sort needs COLUMN[,desc]";
      std::string sortArg = args[++i];
      const std::string column = SplitFirst(sortArg, ",");
      const int64_t c = ParseInt(column, -1);
      if (c < 0 || c >= kColCount)
        return "sort column must be 0-" + std::to_string(kColCount - 1) + ", not '" + column + "'";
      out.sortColumn = static_cast<int>(c);
      if (sortArg == "desc")
        out.descending = true;
      else if (!sortArg.empty() && sortArg != "asc")
        return "sort direction must be 'asc' or 'desc', not '" + sortArg + "'";
    } else if (a == "--units" && !forCopy) {
      if (i + 1 >= args.size() || !ParseUnits(args[++i], out.units))
        return "--units must be 'metric' or 'imperial'";
    } else if (a == "--json" && !forCopy) {
      out.json = true;
    } else if (a == "--to" && forCopy) {
      if (i + 1 >= args.size()) return "--to needs a folder";
      out.target = args[++i];
    } else if (a == "--overwrite" && forCopy) {
      out.overwrite = true;
    } else if (a == "--verify" && forCopy) {
      out.verify = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return "unknown option '" + a + "'";
    } else {
      out.paths.push_back(a);
    }
  }
  if (out.paths.empty()) return "no PATH given";
  if (forCopy && out.target.empty()) return "--to FOLDER is required";
  return {};
}

// Fills the catalogue; reports paths that give nothing. False when any did.
bool FillCatalogue(TFileManager &fm, const TCatalogueArgs &args, const char *command) {
  bool ok = true;
  for (const auto &p : args.paths) {
    const std::string path = AbsolutePath(p);
    if (DirExists(path)) {
      fm.AddFolder(path);
      continue;
    }
    std::string file = path;
    if (EndsWithNoCase(path, ".dat")) {
      // A telemetry file stands for its recording.
      file = FindRecordingFor(path);
      if (file.empty()) {
        std::cerr << "tachora-cli " << command << ": " << p << ": no recording beside it\n";
        ok = false;
        continue;
      }
    }
    if (fm.OpenRecording(file).Items.empty()) {
      // Pipes and devices exist but are never read.
      std::cerr << "tachora-cli " << command << ": " << p << ": "
                << (access(file.c_str(), F_OK) == 0 ? "not a regular file" : "no such file")
                << "\n";
      ok = false;
    }
  }
  // Cameras of one moment are one recording, grouped into trips or not.
  fm.PairChannels();
  if (args.group) {
    fm.MatchLogFiles();
    fm.AutoGroup();
  }
  if (fm.SortColumn() != args.sortColumn) fm.SortBy(args.sortColumn);
  fm.SetAscending(!args.descending);
  fm.Sort();
  return ok;
}

std::string TsvField(std::string s) {
  for (char &c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}

// The list's columns as shown under fixed keys, the row's numbers and times,
// and its files.
std::string ListJson(const TFileManager &fm) {
  static const char *const kKeys[] = {"duration", "date_time", "track", "speed",  "location",
                                      "size",     "picture",   "kind",  "events", "channels"};
  std::vector<std::string> rows;
  const int count = fm.RowCount();
  for (int i = 0; i < count; ++i) {
    const TListItem li = fm.FillListItem(i);
    TJsonObject row;
    row.Text("name", li.Caption);
    for (size_t k = 0; k < std::size(kKeys); ++k)
      row.Text(kKeys[k], k < li.SubItems.size() ? li.SubItems[k] : std::string());
    // The same facts as numbers and times, for scripts.
    const TFileItem item = fm.GetItem(i);
    const TFileItemSubitem &sum = item.Summary;
    row.Text("start", FormatDateTimeOrEmpty(sum.Start))
        .Text("end", FormatDateTimeOrEmpty(sum.End))
        .Int("duration_ms", sum.Duration)
        .Int("size_bytes", sum.Size)
        .Number("track_length_m", FormatFixed(sum.TrackLength, 3))
        .Number("average_speed_kmh", FormatFixed(sum.AvgSpeed, 3))
        .Int("locked", sum.Locked);
    std::vector<std::string> files;
    for (const TFileItemSubitem &f : item.Items) {
      files.push_back(JsonString(f.Path));
      // Another camera's file follows the recording it belongs to.
      for (const TChannelFile &ch : f.Channels) files.push_back(JsonString(ch.Path));
    }
    row.Raw("files", JsonArray(files));
    rows.push_back(row.Str());
  }
  return TJsonObject().Raw("recordings", JsonArray(rows)).Str();
}

int RunList(const std::vector<std::string> &argv) {
  TCatalogueArgs args;
  if (const std::string err = ParseArgs(argv, false, args); !err.empty()) {
    std::cerr << "tachora-cli list: " << err << "\n";
    return 2;
  }
  TFileManager fm(false, nullptr);
  fm.SetUnits(args.units);
  const bool ok = FillCatalogue(fm, args, "list");
  if (args.json) {
    std::cout << ListJson(fm) << "\n" << std::flush;
    return ok ? 0 : 1;
  }
  std::string out =
      "Name\tDuration\tDate and Time\tTrack\tSpeed\tFile Location\tSize\tPicture\tKind\tEvents\t"
      "Channels\n";
  const int count = fm.RowCount();
  for (int i = 0; i < count; ++i) {
    const TListItem li = fm.FillListItem(i);
    out += TsvField(li.Caption);
    for (const auto &s : li.SubItems) out += "\t" + TsvField(s);
    out += "\n";
  }
  std::cout << out << std::flush;
  return ok ? 0 : 1;
}

int RunCopy(const std::vector<std::string> &argv) {
  TCatalogueArgs args;
  if (const std::string err = ParseArgs(argv, true, args); !err.empty()) {
    std::cerr << "tachora-cli copy: " << err << "\n";
    return 2;
  }
  TFileManager fm(false, nullptr);
  bool ok = FillCatalogue(fm, args, "copy");
  const auto rows = fm.Items();
  const bool tty = ShowProgress();
  const auto started = std::chrono::steady_clock::now();
  int64_t bytes = 0;
  int files = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    TCopyCallbacks cb;
    cb.AskOverwrite = [&](const std::string &dest) {
      if (!args.overwrite)
        std::cerr << "\ntachora-cli copy: " << dest << " exists, skipped (use --overwrite)\n";
      return args.overwrite;
    };
    cb.ShowError = [](const std::string &msg) {
      std::cerr << "\ntachora-cli copy: " << msg << "\n";
    };
    TFormCopyThread job(rows[r], args.target, cb, false);
    job.SetVerify(args.verify);
    job.Start();
    std::string last;
    auto report = [&](bool final) {
      const TCopyProgress p = job.Progress();
      std::string line = "[" + std::to_string(r + 1) + "/" + std::to_string(rows.size()) + "] " +
                         CopySizeLine(p.CopiedBytes, p.TotalBytes);
      const std::string speed = CopySpeedLine(p.Speed);
      if (!speed.empty()) line += "  " + speed;
      if (!final)
        line += "  " + CopyFileLine(std::min(p.CurrentIndex, p.FileCount - 1), p.FileCount,
                                    p.CurrentSource);
      if (line == last && !final) return;
      last = line;
      if (tty)
        std::cerr << "\r\033[K" << line << (final ? "\n" : "") << std::flush;
      else if (final && ShowSummary())
        std::cerr << line << "\n";
    };
    // The line is refreshed every 100 ms; the end is noticed at once.
    do report(false);
    while (!job.WaitFinished(100));
    job.WaitFor();
    report(true);
    if (job.ErrorCount() > 0) ok = false;
    bytes += job.Progress().CopiedBytes;
    files += job.CopiedFiles();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (ShowSummary())
    std::cerr << "copied " << files << " files, " << FormatFixed(bytes / 1048576.0L, 1)
              << " MiB in " << FormatFixed(seconds, 3) << " s\n";
  return ok ? 0 : 1;
}

TCliCommandRegistrar gList({"list",
                            "list [--no-group] [--sort COLUMN[,desc]] [--units U] [--json] PATH...",
                            RunList});
TCliCommandRegistrar gCopy({"copy",
                            "copy --to FOLDER [--overwrite] [--verify] [--no-group] PATH...",
                            RunCopy});

}  // namespace

}  // namespace tachora::cli
