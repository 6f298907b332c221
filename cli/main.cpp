// tachora-cli: the core's functions on the command line (list, info,
// telemetry, convert, export, cut, copy), for scripts and tests.
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <iostream>

#include "CliCommands.h"
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
  out << "Tachora " << TACHORA_VERSION << " command-line tool\n"
      << "Usage: tachora-cli COMMAND [ARGS...]\n"
      << "       tachora-cli --version\n";
  auto cmds = cli::Commands();
  std::sort(cmds.begin(), cmds.end(), [](auto &a, auto &b) { return a.name < b.name; });
  if (!cmds.empty()) out << "Commands:\n";
  for (const auto &c : cmds) out << "  tachora-cli " << c.usage << "\n";
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
    PrintUsage(std::cout);
    return 0;
  }
  for (const auto &c : cli::Commands())
    if (c.name == args[0]) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
  std::cerr << "tachora-cli: unknown command '" << args[0] << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
