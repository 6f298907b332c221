#include "telemetry/UnitGpsConverterGPX.h"

namespace tachora {

}  // namespace tachora
namespace tachora {
void TGpsInfoConverterGPX::Write(const TTrackInfo &) {}
bool TGpsInfoConverterGPX::Read(std::string_view, TTrackInfo &) { return false; }
void TGpsInfoConverterGPX::CharSets(TCharSet &, TCharSet &) const {}
}
