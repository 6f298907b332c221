// "tachora-cli render": runs the render program, tachora-render, with the
// same arguments. It lies beside tachora-cli in a build tree and in the
// private program folder (libexec/tachora) of an installation.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "CliCommands.h"

namespace tachora::cli {
namespace {

std::filesystem::path RenderProgram() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path dir = ec ? std::filesystem::path(".") : self.parent_path();
  for (const std::filesystem::path &candidate :
       {dir / "tachora-render", dir / TACHORA_RENDER_FROM_BIN / "tachora-render"}) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return dir / TACHORA_RENDER_FROM_BIN / "tachora-render";
}

int RunRenderProgram(const std::vector<std::string> &args) {
  const std::filesystem::path program = RenderProgram();
  std::vector<std::string> words = {"tachora-cli", "render"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::cout.flush();
  execv(program.c_str(), argv.data());
  std::cerr << "tachora-cli: cannot start the render program " << program.string() << ": "
            << std::strerror(errno) << "\n";
  return 1;
}

TCliCommandRegistrar gRender({"render", kRenderUsage, RunRenderProgram, true});

}  // namespace
}  // namespace tachora::cli
