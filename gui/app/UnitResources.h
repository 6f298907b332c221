// Makes the program's compiled-in resources (change log, pictures) available;
// the GUI library is static, so its resources must be pulled in by hand.
#pragma once

namespace tachora {
void InitResources();
}
