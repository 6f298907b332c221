// The GPS log converter framework: one TGpsInfoConverter subclass per track
// file dialect turns text into TTrackRecord items of a TTrackInfo (readers)
// and a TTrackInfo back into text (writers). The reader selection tries the
// readers in their fixed order, first by the characters of the file's head,
// then by its extension.
//
// Text is single-byte; written files use CR LF line ends and no byte order
// mark. Times in TTrackRecord are local TDateTime; formats that store UTC are
// converted with the start-up local-time offset.
//
// Threads: converter objects keep per-parse state (split fields, output
// buffer, the Samoon text shift) and are never shared between threads.
// ReadTrackFile/ReadTrackText create fresh readers per call; the Make*
// functions give a caller its own lists, and the Gps* accessors return lists
// private to the calling thread. The dialog filters are pure functions.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

// A set of single-byte characters.
using TCharSet = std::bitset<256>;

// Files larger than this are not read as telemetry (they cannot be one, and
// reading them whole would only exhaust memory).
constexpr int64_t kMaxTrackFileSize = 512LL * 1024 * 1024;

// Where a parse puts the records that a reader accepts: the items of a
// TTrackInfo, or the arrays of a TMovingInfo being built (no array of parse
// records in between). It also carries the file's times and keeps the
// parse's memory in proportion to the text: records are weighed at what the
// sink keeps of them (Weight: sizeof TGpsPoint or TGsensorPoint for a
// TMovingInfo, sizeof TTrackRecord for a TTrackInfo's items), and a text
// whose records would weigh more than kRecordBytesPerTextByte times its
// size plus kRecordBytesSlack is no telemetry file but a hostile one (a
// real log spends 14 bytes or more of text on a sample and 40 or more on a
// fix). One sink serves one parse at a time, on one thread.
class TTrackSink {
 public:
  static constexpr int64_t kRecordBytesPerTextByte = 3;
  static constexpr int64_t kRecordBytesSlack = 32LL * 1024 * 1024;

  explicit TTrackSink(size_t textSize) { SetTextSize(textSize); }
  virtual ~TTrackSink() = default;

  // Takes an accepted record; false (and Overflowed() from then on) when it
  // would exceed the budget. The record is then not taken.
  bool Add(const TTrackRecord &rec);
  // Forgets every record taken (the reader found the text is not its dialect).
  void Clear();
  // Sets the budget for a text of this size (before a parse).
  void SetTextSize(size_t textSize) {
    budget_ = kRecordBytesPerTextByte * static_cast<int64_t>(textSize) + kRecordBytesSlack;
  }
  size_t Count() const { return count_; }
  bool Overflowed() const { return overflowed_; }
  // A reader's estimate of how many records its text holds (it may be wrong
  // either way): a sink may make room for them at once instead of growing.
  virtual void Expect(size_t records) { (void)records; }

  // The file's creation and last-write times (local, 0 = unknown).
  double Created = 0;
  double Modified = 0;
  // The file's path (a reader may take a date from its name); may be empty.
  std::string Path;
  // Whether the records only need to place the points (a load for a PLT
  // or KML file): readers may then leave course and speed unknown (-1)
  // instead of reading them. Set before a parse.
  bool PositionsOnly = false;

 protected:
  // The bytes that the records taken may weigh in all.
  int64_t Budget() const { return budget_; }
  // Bytes the sink keeps for a record; base: what a TMovingInfo keeps.
  virtual int64_t Weight(const TTrackRecord &rec) const;
  virtual void Store(const TTrackRecord &rec) = 0;
  virtual void Forget() = 0;

 private:
  int64_t budget_ = 0;
  int64_t used_ = 0;
  size_t count_ = 0;
  bool overflowed_ = false;
};

class TGpsInfoConverter {
 public:
  virtual ~TGpsInfoConverter() = default;

  virtual std::string Name() const = 0;
  // Lower case, no dot.
  virtual std::string Extension() const = 0;
  // Whether the head of a file (its first 512 characters) looks like this
  // dialect. Base: the character-set test over CharSets.
  virtual bool CanRead(std::string_view header);
  // Appends the track as text to Buffer (GPS records only for most formats).
  virtual void Write(const TTrackInfo &info);
  // Appends the GPS points of a loaded track with its summary `info` (whose
  // Items are not read): the text Write gives for the points as records,
  // without copying them. Base: copies them into records and calls Write.
  virtual void WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points);
  // How deep a track must be loaded for what this writer puts in its text
  // (distances for a length, course and speed for each point). Base: all.
  virtual TLoadDepth Depth() const { return TLoadDepth::Complete; }
  // Parses text into the sink; true when at least one record was taken
  // (the sink is left empty otherwise). Base: the line reader (AddLine per
  // non-empty line, early rejection, stop when the sink overflows).
  virtual bool Read(std::string_view text, TTrackSink &sink);
  // Parses one line into a record; base: false.
  virtual bool ParseLine(std::string_view line, int index, TTrackRecord &rec);
  // Parses a line and gives the sink the record when it is usable.
  virtual void AddLine(std::string_view line, int index, TTrackSink &sink);
  // The characters a file head must contain all of, and must contain none of.
  virtual void CharSets(TCharSet &required, TCharSet &forbidden) const;

  // Whether the class reads / writes at all (the lists use these).
  virtual bool CanReadFormat() const { return true; }
  virtual bool CanWriteFormat() const { return true; }

  // Output of Write; WriteTrackText resets it.
  std::string Buffer;

 protected:
  // Splits `line` at every separator (empty fields kept) into Fields, which
  // point into `line`. No dialect has more than kMaxFields fields; splitting
  // stops there, so a line of millions of separators costs no memory.
  void SplitFields(std::string_view line, const TCharSet &separators);
  static constexpr size_t kMaxFields = 32;
  // Field i (0-based) or empty when the line has fewer fields.
  std::string_view Field(size_t i) const {
    return i < Fields.size() ? Fields[i] : std::string_view();
  }

  std::vector<std::string_view> Fields;
};

using TGpsConverterList = std::vector<std::unique_ptr<TGpsInfoConverter>>;

// For the writers' loops over records or points: whether an item is a GPS fix.
inline bool IsGpsItem(const TTrackRecord &r) {
  return r.Kind == kRecordGps;
}
inline bool IsGpsItem(const TGpsPoint &) {
  return true;
}

// Whether a GPS record's position lies on the globe (|Lat| <= 90,
// |Lon| <= 180) and its time after 1899-12-30 and before the year 10000.
// The readers take fixes only within these bounds: a file may hold any
// number, and a time of 1e300 days cannot even be shown as a date.
bool IsFixInRange(const TTrackRecord &rec);

// Fresh lists in their fixed orders:
// writers KML, PLT, GPX, DatDOD, NMEA (the order of the save dialog's types);
// readers DatDOD, GPX, PLT, LogDOD, LogDVR, DatSamoon, NMEA, BlackVue GPS, BlackVue 3GF;
// the default writer, a DatDOD (telemetry of cut fragments).
TGpsConverterList MakeGpsWriters();
TGpsConverterList MakeGpsReaders();
std::unique_ptr<TGpsInfoConverter> MakeDefaultGpsWriter();

// The calling thread's own lists (created on first use, freed when the
// thread ends).
const TGpsConverterList &GpsWriters();
const TGpsConverterList &GpsReaders();
TGpsInfoConverter &DefaultGpsWriter();
// The calling thread's writer for an extension (any case, with or without
// the dot); nullptr when none.
TGpsInfoConverter *FindGpsWriter(std::string_view extension);

// Parses the text of a track file into `t` (cleared first). `path` gives the
// file's creation and last-write times (t.StartTime/EndTime, local; 0 when
// it cannot be opened) and its extension for the fallback selection.
// `readerName`, when given, receives the accepting reader's Name.
// Memory: the items are 112-byte records, refused like a hostile file when
// they would weigh more than 3 times the text plus 32 MB (TTrackSink), and
// collected without a growing array's spare copy: with the text, the peak
// stays under 4 times its size plus 35 MB. A file far denser in G-sensor
// samples than that is read in full only by TMovingInfo::LoadFromFile (or
// LoadTrackFor), whose points are compact.
bool ReadTrackFile(std::string_view text, const std::string &path, TTrackInfo &t,
                   std::string *readerName = nullptr);
// The same with the file's times given (in-memory input: tests, fuzzing).
bool ReadTrackText(std::string_view text, const std::string &path, double created, double modified,
                   TTrackInfo &t, std::string *readerName = nullptr);
// The reader selection over any sink (cleared first; its Created and
// Modified are the file's times): true when a reader accepted the text.
bool ReadTrackInto(std::string_view text, const std::string &path, TTrackSink &sink,
                   std::string *readerName = nullptr);

// Reads a track file into the sink (cleared first, its budget set for the
// file's size, its Created and Modified set to the file's times): the reader
// selection of ReadTrackInto over the file's text. A large GPX file is
// scanned as it is read instead of being held whole. False when the file
// cannot be read, is larger than kMaxTrackFileSize or no reader takes it.
bool ReadTrackFileInto(const std::string &path, TTrackSink &sink,
                       std::string *readerName = nullptr);

// The text that `converter` writes for `t`. A failure inside Write ends the
// text where it stopped.
std::string WriteTrackText(TGpsInfoConverter &converter, const TTrackInfo &t);
// The text that `converter` writes for a loaded track's GPS points: the same
// as for BeginTrackInfo's record of it, without copying the points. The
// track must be loaded at least as deep as the writer's Depth().
std::string WriteTrackText(TGpsInfoConverter &converter, const TMovingInfo &mi);

// The GPS log converter's loading: a track file read only as deep as the
// writers need (a track that only becomes a PLT needs no distances).
TLoadDepth DepthFor(const std::vector<TGpsInfoConverter *> &writers);
std::unique_ptr<TMovingInfo> LoadTrackFor(const std::string &path,
                                          const std::vector<TGpsInfoConverter *> &writers);

// Reads a whole file (at most kMaxTrackFileSize bytes); false when it cannot
// be read or is larger.
bool ReadWholeFile(const std::string &path, std::string &out);
// The same into a buffer that is not cleared first (a telemetry file is
// read once and parsed, so the pages are touched once, by the read).
struct TFileText {
  std::unique_ptr<char[]> Data;
  size_t Size = 0;
  std::string_view View() const { return {Data.get(), Size}; }
};
bool ReadWholeFile(const std::string &path, TFileText &out);
// Asks for huge pages over the whole 2 MiB pages inside [p, p + bytes) of a
// large, still untouched allocation: one page fault instead of 512 for the
// point arrays of a long track. Harmless where the system has none.
void AdviseHugePages(const void *p, size_t bytes);
// Writes text as the whole file through WriteFileAtomic (core/app): the
// file appears under its name only when complete, a replaced file keeps its
// mode and a new one follows the umask. On failure `error` (when given)
// receives the system's message and the old file is untouched.
bool WriteTextFile(const std::string &path, std::string_view text, std::string *error = nullptr);
// The file's creation (birth, 0 when the file system has none) and
// last-write times as local TDateTime; false when the file cannot be examined.
bool FileTimes(const std::string &path, double &created, double &modified);

// Dialog filters, "|"-separated description/pattern pairs.
std::string SaveDialogFilter(const TGpsInfoConverter &converter);  // "Name (.ext)|*.ext|"
std::string SaveDialogFilter();                                    // over the writers list
std::string OpenDialogFilter();                                    // over the readers list

}  // namespace tachora
