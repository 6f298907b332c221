#include "telemetry/UnitGpsConverterPLT.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
bool TGpsInfoConverterPLT::CanRead(std::string_view) { return false; }
void TGpsInfoConverterPLT::Write(const TTrackInfo &) {}
bool TGpsInfoConverterPLT::ParseLine(std::string_view, int, TTrackRecord &) { return false; }
void TGpsInfoConverterPLT::CharSets(TCharSet &, TCharSet &) const {}
}
