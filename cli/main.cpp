// tachora-cli: the core's functions on the command line (list, info,
// telemetry, convert, export, cut, copy), for scripts and tests.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <iostream>

#include "CliCommands.h"
#include "CliConventions.h"
#include "app/UnitLang.h"
#include "app/UnitUtils.h"

namespace tachora::cli {
std::vector<TCliCommand> &Commands() {
  static std::vector<TCliCommand> commands;
  return commands;
}
}  // namespace tachora::cli

using namespace tachora;

static void PrintUsage(std::ostream &out) {
  out << "Tachora " << TACHORA_VERSION << " command-line tool: dash-camera recordings, their\n"
      << "telemetry and GPS logs.\n\n"
      << "Usage: tachora-cli COMMAND [OPTIONS] ARGS...\n"
      << "       tachora-cli COMMAND --help\n"
      << "       tachora-cli --version\n";
  auto cmds = cli::Commands();
  std::sort(cmds.begin(), cmds.end(), [](auto &a, auto &b) { return a.name < b.name; });
  if (!cmds.empty()) out << "\nCommands:\n";
  for (const auto &c : cmds) {
    std::string name = c.name;
    name.resize(std::max<size_t>(name.size() + 2, 12), ' ');
    const std::string summary = cli::CommandSummary(c.name);
    out << "  " << name << (summary.empty() ? "" : summary + ".") << "\n"
        << "              Usage: tachora-cli " << c.usage << "\n";
  }
  out << "\nOptions of every command:\n"
      << "  -h, --help    show the command's usage and exit\n"
      << "  --quiet       no progress lines or closing summary on standard error\n"
      << "  --progress    progress lines even when standard error is no terminal\n"
      << "\nlist, info and telemetry take --json for one JSON object on standard output.\n"
      << "Exit status: 0 success, 1 failure, 2 bad usage.\n";
}

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  InitLocalTimeOffset();
  InitLanguages(1033);  // machine-readable output always uses the English table
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintUsage(std::cerr);
    return 2;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::cout << "tachora-cli " << TACHORA_VERSION << "\n";
    return 0;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    // "help COMMAND" is "COMMAND --help".
    if (args.size() > 1 && args[0] == "help") {
      args.erase(args.begin());
      args.resize(1);
      args.push_back("--help");
    } else {
      PrintUsage(std::cout);
      return 0;
    }
  }
  for (const auto &c : cli::Commands()) {
    if (c.name != args[0]) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (c.rawArgs) return c.run(rest);
    if (cli::AsksForHelp(rest)) {
      cli::PrintCommandHelp(c, std::cout);
      return 0;
    }
    if (!cli::TakeProgressOptions(rest)) return 2;
    return c.run(rest);
  }
  std::cerr << "tachora-cli: unknown command '" << args[0] << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
