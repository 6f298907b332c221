// tachora-cli repair: rebuilds a recording cut off by power loss (media data
// without sample tables) from a healthy reference recording.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "CliCommands.h"
#include "CliConventions.h"
#include "container/UnitRepair.h"

namespace tachora::cli {
namespace {

const char *const kUsage = "repair [--reference FILE] -o OUT BROKEN";

int RunRepair(const std::vector<std::string> &args) {
  std::string reference, out, broken;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--reference" || a == "-o") {
      if (i + 1 >= args.size()) {
        std::cerr << "repair: " << a << " needs a file name\nusage: tachora-cli " << kUsage << "\n";
        return 2;
      }
      (a == "-o" ? out : reference) = args[++i];
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "repair: unknown option " << a << "\nusage: tachora-cli " << kUsage << "\n";
      return 2;
    } else if (broken.empty()) {
      broken = a;
    } else {
      std::cerr << "repair: one broken file only\nusage: tachora-cli " << kUsage << "\n";
      return 2;
    }
  }
  if (broken.empty() || out.empty()) {
    std::cerr << "usage: tachora-cli " << kUsage << "\n";
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(broken, ec)) {
    std::cerr << "repair: " << broken << ": no such file\n";
    return 1;
  }
  if (std::filesystem::exists(out, ec) && std::filesystem::equivalent(out, broken, ec)) {
    std::cerr << "repair: the repaired file must not replace the broken one\n";
    return 2;
  }
  if (reference.empty()) {
    reference = ChooseRepairReference(broken);
    if (reference.empty()) {
      std::cerr << "repair: no healthy recording with the same formats in the folder of " << broken
                << ": name one with --reference\n";
      return 1;
    }
    if (ShowSummary()) std::cerr << "repair: reference " << reference << "\n";
  } else if (!std::filesystem::is_regular_file(reference, ec)) {
    std::cerr << "repair: " << reference << ": no such file\n";
    return 1;
  }
  const bool showProgress = ShowProgress();
  auto progress = [&](double f) {
    if (showProgress) std::cerr << "\rrepair: " << int(f * 100) << "%   " << std::flush;
  };
  const TRepairResult r = RepairRecording(broken, reference, out, progress);
  if (showProgress) std::cerr << "\n";
  if (!r.Ok()) {
    std::cerr << "repair: " << RepairErrorText(r) << "\n";
    return 1;
  }
  char line[256];
  std::snprintf(line, sizeof line,
                "picture: %.2f s, %u frames (%u key)\nsound: %.2f s\nbytes_taken: %lld\n"
                "bytes_skipped: %lld\n",
                r.videoSeconds, r.videoFrames, r.keyFrames, r.soundSeconds,
                static_cast<long long>(r.bytesTaken), static_cast<long long>(r.bytesSkipped));
  std::cout << "written: " << out << "\n" << line;
  return 0;
}

const TCliCommandRegistrar kRepair{{"repair", kUsage, RunRepair}};

}  // namespace
}  // namespace tachora::cli
