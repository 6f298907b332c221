#include "telemetry/UnitGpsConverterDatDOD.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
void TGpsInfoConverterDatDOD::Write(const TTrackInfo &) {}
bool TGpsInfoConverterDatDOD::ParseLine(std::string_view, int, TTrackRecord &) { return false; }
void TGpsInfoConverterDatDOD::CharSets(TCharSet &, TCharSet &) const {}
}
