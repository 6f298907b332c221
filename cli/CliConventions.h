// What every tachora-cli command shares beyond its own options:
//  - "COMMAND --help" / "-h" answered by main() from the command's usage line
//    and its help text below (standard output, exit 0);
//  - "--quiet" and "--progress", taken out by main() before the command sees
//    its arguments: progress lines go to standard error only when it is a
//    terminal, unless forced or silenced;
//  - the JSON text of "--json" (one object on standard output, keys fixed).
// Bad usage exits with 2, a failure with 1, messages on standard error.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tachora::cli {

struct TCliCommand;

// ---- help --------------------------------------------------------------------

// The paragraph under a command's usage line; empty for an unknown name.
std::string CommandHelp(const std::string &name);
// One line describing the command in the overall usage.
std::string CommandSummary(const std::string &name);
// True when the arguments ask for help ("--help" or "-h" before any "--").
bool AsksForHelp(const std::vector<std::string> &args);
void PrintCommandHelp(const TCliCommand &command, std::ostream &out);

// ---- progress ----------------------------------------------------------------

enum class TProgressMode { Auto, Quiet, Always };
// Removes "--quiet" and "--progress" from the arguments and sets the mode.
// False (with a message on standard error) when both are given.
bool TakeProgressOptions(std::vector<std::string> &args);
void SetProgressMode(TProgressMode mode);
// Carriage-return progress lines: forced, or standard error is a terminal.
bool ShowProgress();
// Closing summaries on standard error ("copied 4 files ..."): unless --quiet.
bool ShowSummary();

// ---- JSON --------------------------------------------------------------------

// A JSON string literal: quoted, escaped, and valid UTF-8 (bytes that are no
// UTF-8 become U+FFFD, as file names need not be UTF-8).
std::string JsonString(std::string_view text);
// A number as written by the core's formatters ("12.345", "-1"); null when
// the text is no finite number.
std::string JsonNumber(std::string_view text);

// Builds one object, keys in the order added.
class TJsonObject {
 public:
  TJsonObject &Raw(std::string_view key, std::string_view json);
  TJsonObject &Text(std::string_view key, std::string_view value) {
    return Raw(key, JsonString(value));
  }
  TJsonObject &Number(std::string_view key, std::string_view value) {
    return Raw(key, JsonNumber(value));
  }
  TJsonObject &Int(std::string_view key, int64_t value) { return Raw(key, std::to_string(value)); }
  TJsonObject &Bool(std::string_view key, bool value) { return Raw(key, value ? "true" : "false"); }
  std::string Str() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

// "[a,b,...]" of already written JSON values.
std::string JsonArray(const std::vector<std::string> &values);

}  // namespace tachora::cli
