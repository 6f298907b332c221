#include "app/UnitResources.h"

#include <QtGlobal>

static void InitTachoraResources() {
  Q_INIT_RESOURCE(tachora);
}

namespace tachora {
void InitResources() {
  static bool done = false;
  if (!done) InitTachoraResources();
  done = true;
}
}  // namespace tachora
