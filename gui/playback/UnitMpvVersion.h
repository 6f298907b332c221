// The version of the libmpv client API the program runs with, for the about
// window: "libmpv 2.0" (major.minor of mpv_client_api_version()). Any thread.
#pragma once

#include <QString>

namespace tachora {

QString MpvVersionText();

}  // namespace tachora
