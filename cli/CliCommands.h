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
  // The command's arguments go to `run` untouched: no --help, --quiet or
  // --progress handling (a command run by another program).
  bool rawArgs = false;
};

std::vector<TCliCommand> &Commands();

// render's usage line: tachora-cli and the render program both list it.
inline constexpr const char *kRenderUsage =
    "render --from A --to B [--layout pip|side|main] "
    "[--overlay LIST] [--units U] [--overwrite] -o OUT.mp4 FILE...";

struct TCliCommandRegistrar {
  explicit TCliCommandRegistrar(TCliCommand c) { Commands().push_back(std::move(c)); }
};

}  // namespace tachora::cli
