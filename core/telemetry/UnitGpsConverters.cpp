#include "telemetry/UnitGpsConverters.h"

#include "telemetry/UnitGpsConverterDatDOD.h"
#include "telemetry/UnitGpsConverterDatSamoon.h"
#include "telemetry/UnitGpsConverterGPX.h"
#include "telemetry/UnitGpsConverterKML.h"
#include "telemetry/UnitGpsConverterLogDOD.h"
#include "telemetry/UnitGpsConverterLogDVR.h"
#include "telemetry/UnitGpsConverterPLT.h"

namespace tachora {

bool TGpsInfoConverter::CanRead(std::string_view) { return false; }
void TGpsInfoConverter::Write(const TTrackInfo &) {}
bool TGpsInfoConverter::Read(std::string_view, TTrackInfo &) { return false; }
bool TGpsInfoConverter::ParseLine(std::string_view, int, TTrackRecord &) { return false; }
void TGpsInfoConverter::AddLine(std::string_view, int, int &, TTrackInfo &) {}
void TGpsInfoConverter::CharSets(TCharSet &, TCharSet &) const {}
void TGpsInfoConverter::SplitFields(std::string_view, const TCharSet &) {}

TGpsConverterList MakeGpsWriters() { return {}; }
TGpsConverterList MakeGpsReaders() { return {}; }
std::unique_ptr<TGpsInfoConverter> MakeDefaultGpsWriter() { return std::make_unique<TGpsInfoConverterDatDOD>(); }
const TGpsConverterList &GpsWriters() { thread_local TGpsConverterList l = MakeGpsWriters(); return l; }
const TGpsConverterList &GpsReaders() { thread_local TGpsConverterList l = MakeGpsReaders(); return l; }
TGpsInfoConverter &DefaultGpsWriter() { thread_local auto w = MakeDefaultGpsWriter(); return *w; }
TGpsInfoConverter *FindGpsWriter(std::string_view) { return nullptr; }
bool ReadTrackFile(std::string_view, const std::string &, TTrackInfo &t, std::string *) { t.Clear(); return false; }
bool ReadTrackText(std::string_view, const std::string &, double, double, TTrackInfo &t, std::string *) { t.Clear(); return false; }
std::string WriteTrackText(TGpsInfoConverter &, const TTrackInfo &) { return {}; }
bool ReadWholeFile(const std::string &, std::string &) { return false; }
bool WriteTextFile(const std::string &, std::string_view, std::string *) { return false; }
bool FileTimes(const std::string &, double &c, double &m) { c = m = 0; return false; }
std::string SaveDialogFilter(const TGpsInfoConverter &) { return {}; }
std::string SaveDialogFilter() { return {}; }
std::string OpenDialogFilter() { return {}; }

}  // namespace tachora
