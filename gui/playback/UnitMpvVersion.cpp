#include "playback/UnitMpvVersion.h"

#include <mpv/client.h>

namespace tachora {

QString MpvVersionText() {
  const unsigned long v = mpv_client_api_version();
  return QString("libmpv %1.%2").arg(v >> 16).arg(v & 0xffff);
}

}  // namespace tachora
