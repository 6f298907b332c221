#include "telemetry/UnitGpsConverterKML.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
void TGpsInfoConverterKML::Write(const TTrackInfo &) {}
}
