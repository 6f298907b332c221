#include "telemetry/UnitGpsConverterDatSamoon.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
const TGpsInfoConverterDatSamoon::THeaderShift TGpsInfoConverterDatSamoon::kHeaderShifts[5] = {};
bool TGpsInfoConverterDatSamoon::CanRead(std::string_view) { return false; }
bool TGpsInfoConverterDatSamoon::Read(std::string_view, TTrackInfo &) { return false; }
void TGpsInfoConverterDatSamoon::AddLine(std::string_view, int, int &, TTrackInfo &) {}
void TGpsInfoConverterDatSamoon::CharSets(TCharSet &, TCharSet &) const {}
int TGpsInfoConverterDatSamoon::FindShift(std::string_view) { return 0; }
}
