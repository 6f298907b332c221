// tachora-cli's command table. Each cli/cmd_*.cpp file registers its
// commands with a static TCliCommandRegistrar; main() dispatches on the first
// argument. Output goes to stdout (machine-readable), messages to stderr.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tachora::cli {

struct TCliCommand {
  std::string name;
  std::string usage;  // one line: "name [options] ARGS"
  std::function<int(const std::vector<std::string> &args)> run;
};

std::vector<TCliCommand> &Commands();

struct TCliCommandRegistrar {
  explicit TCliCommandRegistrar(TCliCommand c) { Commands().push_back(std::move(c)); }
};

}  // namespace tachora::cli
