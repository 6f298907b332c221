#include "telemetry/UnitGpsConverterLogDOD.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
bool TGpsInfoConverterLogDOD::ParseLine(std::string_view, int, TTrackRecord &) { return false; }
void TGpsInfoConverterLogDOD::CharSets(TCharSet &, TCharSet &) const {}
}
