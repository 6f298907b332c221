// The map's resources (the page, Leaflet from the system's package, the
// marker images and the speedometer dial) under ":/map/". They live in a
// static library, so the first user registers them; calling it again is
// harmless.
#pragma once

namespace tachora {
void InitMapResources();
}
