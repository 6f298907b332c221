// Call-stack text for error reports: one line per frame, innermost first, as
// glibc's backtrace() sees it (function names need -rdynamic to show).
#pragma once

#include <string>

namespace tachora {

// The calling thread's stack, skipping `skip` innermost frames besides this
// function itself. At most 64 frames.
std::string CallStackText(int skip = 0);

}  // namespace tachora
