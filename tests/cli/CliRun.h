// Runs the built tachora-cli with a command line (arguments already
// quoted for the shell) and keeps its exit status and both outputs.
#pragma once

#include <string>

#include "TestMedia.h"

namespace tachora::test {

struct TRun {
  int status;
  std::string out, err;
};

inline TRun Cli(const std::string &args) {
  TRun r;
  r.status = RunCommand(std::string(TACHORA_CLI) + " " + args, &r.out, &r.err);
  return r;
}

}  // namespace tachora::test
