#include "app/UnitCallStack.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <cstdlib>
#include <memory>

namespace tachora {

namespace {
// "prog(_ZN3foo3barEv+0x1a) [0x...]" -> "prog(foo::bar()+0x1a) [0x...]"
std::string Demangle(const char *symbol) {
  std::string s(symbol);
  const size_t open = s.find('(');
  const size_t plus = s.find('+', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || plus == std::string::npos || plus <= open + 1) return s;
  const std::string mangled = s.substr(open + 1, plus - open - 1);
  int status = 0;
  std::unique_ptr<char, void (*)(void *)> name(
      abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), std::free);
  if (status != 0 || !name) return s;
  return s.substr(0, open + 1) + name.get() + s.substr(plus);
}
}  // namespace

std::string CallStackText(int skip) {
  void *frames[64];
  const int n = backtrace(frames, 64);
  std::unique_ptr<char *, void (*)(void *)> symbols(backtrace_symbols(frames, n), std::free);
  std::string text;
  for (int i = 1 + (skip > 0 ? skip : 0); i < n; ++i) {
    text += symbols ? Demangle(symbols.get()[i]) : std::string("?");
    text += "\n";
  }
  return text;
}

}  // namespace tachora
