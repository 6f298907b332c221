#include "telemetry/UnitGpsConverterLogDVR.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
bool TGpsInfoConverterLogDVR::ParseLine(std::string_view, int, TTrackRecord &) { return false; }
void TGpsInfoConverterLogDVR::CharSets(TCharSet &, TCharSet &) const {}
}
