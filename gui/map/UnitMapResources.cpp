#include "map/UnitMapResources.h"

#include <QtGlobal>

static void InitMapResourcesGlobal() {
  Q_INIT_RESOURCE(map);
}

namespace tachora {
void InitMapResources() {
  static const bool done = (InitMapResourcesGlobal(), true);
  (void)done;
}
}  // namespace tachora
