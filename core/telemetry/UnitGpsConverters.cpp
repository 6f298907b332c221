#include "telemetry/UnitGpsConverters.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "app/UnitFileIO.h"
#include "app/UnitFileSystem.h"
#include "telemetry/UnitEmbeddedTelemetry.h"
#include "telemetry/UnitGpsConverterBlackVue.h"
#include "telemetry/UnitGpsConverterDatDOD.h"
#include "telemetry/UnitGpsConverterDatSamoon.h"
#include "telemetry/UnitGpsConverterGPX.h"
#include "telemetry/UnitGpsConverterKML.h"
#include "telemetry/UnitGpsConverterLogDOD.h"
#include "telemetry/UnitGpsConverterLogDVR.h"
#include "telemetry/UnitGpsConverterNMEA.h"
#include "telemetry/UnitGpsConverterPLT.h"
#include "telemetry/UnitTrackBlocks.h"

namespace tachora {

// ---- the record sink ----------------------------------------------------------

bool TTrackSink::Add(const TTrackRecord &rec) {
  if (overflowed_) return false;
  const int64_t weight = Weight(rec);
  if (used_ + weight > budget_) {
    overflowed_ = true;
    return false;
  }
  used_ += weight;
  ++count_;
  Store(rec);
  return true;
}

int64_t TTrackSink::Weight(const TTrackRecord &rec) const {
  return rec.Kind == kRecordGps       ? sizeof(TGpsPoint)
         : rec.Kind == kRecordGsensor ? sizeof(TGsensorPoint)
                                      : 0;
}

void TTrackSink::Clear() {
  used_ = 0;
  count_ = 0;
  overflowed_ = false;
  Forget();
}

// ---- the base converter ----------------------------------------------------

bool TGpsInfoConverter::CanRead(std::string_view header) {
  TCharSet required, forbidden;
  CharSets(required, forbidden);
  if (required.none() && forbidden.none()) return false;
  for (const char c : header) {
    const auto u = static_cast<unsigned char>(c);
    if (forbidden[u]) return false;
    required[u] = false;
  }
  return required.none();
}

void TGpsInfoConverter::Write(const TTrackInfo &) {}

void TGpsInfoConverter::WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points) {
  TTrackInfo copy = info;
  copy.Items.clear();
  copy.Items.reserve(points.size());
  for (const TGpsPoint &p : points) copy.Items.push_back(RecordOf(p));
  Write(copy);
}

bool TGpsInfoConverter::Read(std::string_view text, TTrackSink &sink) {
  int index = 0;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    while (pos < n && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
    if (pos >= n) break;
    size_t end = pos;
    while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    try {
      AddLine(line, index, sink);
    } catch (...) {
      // A line that throws counts as read and yields nothing.
    }
    if (sink.Overflowed()) break;
    const size_t read = static_cast<size_t>(++index);
    const size_t count = sink.Count();
    if ((count == 0 && read > 8) || (count > 0 && read > 32 && count < read / 2)) {
      sink.Clear();  // not this dialect
      break;
    }
  }
  if (sink.Overflowed()) sink.Clear();
  return sink.Count() > 0;
}

bool TGpsInfoConverter::ParseLine(std::string_view, int, TTrackRecord &) {
  return false;
}

void TGpsInfoConverter::AddLine(std::string_view line, int index, TTrackSink &sink) {
  TTrackRecord rec;
  if (!ParseLine(line, index, rec)) return;
  if ((rec.Kind == kRecordGps && rec.Lon != 0 && rec.Lat != 0 && IsFixInRange(rec)) ||
      rec.Kind == kRecordGsensor)
    sink.Add(rec);
}

void TGpsInfoConverter::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
}

void TGpsInfoConverter::SplitFields(std::string_view line, const TCharSet &separators) {
  Fields.clear();
  size_t start = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (separators[static_cast<unsigned char>(line[i])]) {
      Fields.push_back(line.substr(start, i - start));
      start = i + 1;
      if (Fields.size() == kMaxFields) return;  // the rest is never read
    }
  }
  Fields.push_back(line.substr(start));
}

bool IsFixInRange(const TTrackRecord &rec) {
  constexpr double kYear10000 = 2958466;  // 10000-01-01 as TDateTime
  return std::fabs(rec.Lat) <= 90 && std::fabs(rec.Lon) <= 180 && rec.Time > 0 &&
         rec.Time < kYear10000;
}

// ---- lists -------------------------------------------------------------------

TGpsConverterList MakeGpsWriters() {
  TGpsConverterList l;
  l.push_back(std::make_unique<TGpsInfoConverterKML>());
  l.push_back(std::make_unique<TGpsInfoConverterPLT>());
  l.push_back(std::make_unique<TGpsInfoConverterGPX>());
  l.push_back(std::make_unique<TGpsInfoConverterDatDOD>());
  l.push_back(std::make_unique<TGpsInfoConverterNMEA>());
  return l;
}

TGpsConverterList MakeGpsReaders() {
  TGpsConverterList l;
  l.push_back(std::make_unique<TGpsInfoConverterDatDOD>());
  l.push_back(std::make_unique<TGpsInfoConverterGPX>());
  l.push_back(std::make_unique<TGpsInfoConverterPLT>());
  l.push_back(std::make_unique<TGpsInfoConverterLogDOD>());
  l.push_back(std::make_unique<TGpsInfoConverterLogDVR>());
  l.push_back(std::make_unique<TGpsInfoConverterDatSamoon>());
  l.push_back(std::make_unique<TGpsInfoConverterNMEA>());
  // BlackVue's "[ms]$GPRMC" lines are NMEA to the reader before; this one
  // takes a .gps file only by its extension, when that refused it.
  l.push_back(std::make_unique<TGpsInfoConverterBlackVueGps>());
  l.push_back(std::make_unique<TGpsInfoConverterBlackVue3gf>());
  return l;
}

std::unique_ptr<TGpsInfoConverter> MakeDefaultGpsWriter() {
  return std::make_unique<TGpsInfoConverterDatDOD>();
}

const TGpsConverterList &GpsWriters() {
  thread_local const TGpsConverterList list = MakeGpsWriters();
  return list;
}

const TGpsConverterList &GpsReaders() {
  thread_local const TGpsConverterList list = MakeGpsReaders();
  return list;
}

TGpsInfoConverter &DefaultGpsWriter() {
  thread_local const std::unique_ptr<TGpsInfoConverter> writer = MakeDefaultGpsWriter();
  return *writer;
}

TGpsInfoConverter *FindGpsWriter(std::string_view extension) {
  if (!extension.empty() && extension[0] == '.') extension.remove_prefix(1);
  for (const auto &w : GpsWriters())
    if (EqualsNoCase(w->Extension(), extension)) return w.get();
  return nullptr;
}

// ---- reading -------------------------------------------------------------------

namespace {

bool Parse(TGpsInfoConverter &reader, std::string_view text, TTrackSink &sink) {
  sink.Clear();
  bool ok = false;
  try {
    ok = reader.Read(text, sink);
  } catch (...) {
    ok = false;
  }
  if (!ok) sink.Clear();
  return ok;
}

// Parse records for a TTrackInfo's items, kept in blocks while the parse
// runs and weighed at their full size: the items never hold more than the
// budget, and growing never holds two copies of them.
class TItemsSink : public TTrackSink {
 public:
  using TTrackSink::TTrackSink;

  void MoveTo(std::vector<TTrackRecord> &items) { records_.MoveTo(items); }

 protected:
  int64_t Weight(const TTrackRecord &rec) const override {
    return rec.Kind == kRecordGps || rec.Kind == kRecordGsensor ? sizeof(TTrackRecord) : 0;
  }
  void Store(const TTrackRecord &rec) override { records_.PushBack(rec); }
  void Forget() override { records_.Clear(); }

 private:
  TBlocks<TTrackRecord> records_;
};

}  // namespace

bool ReadTrackInto(std::string_view text, const std::string &path, TTrackSink &sink,
                   std::string *readerName) {
  sink.Clear();
  sink.Path = path;
  if (readerName) readerName->clear();
  const std::string_view header = text.substr(0, std::min<size_t>(text.size(), 512));
  // Fresh readers per call: they keep per-parse state and this may run on
  // several threads at once.
  const TGpsConverterList readers = MakeGpsReaders();
  auto accept = [&](TGpsInfoConverter &r) {
    if (readerName) *readerName = r.Name();
    return true;
  };
  std::vector<bool> tried(readers.size(), false);
  for (size_t i = 0; i < readers.size(); ++i)
    if (readers[i]->CanRead(header)) {
      if (Parse(*readers[i], text, sink)) return accept(*readers[i]);
      tried[i] = true;
    }
  // A reader that already refused this text would refuse it again.
  const std::string ext = ToLowerAscii(path.size() >= 3 ? path.substr(path.size() - 3) : path);
  for (size_t i = 0; i < readers.size(); ++i)
    if (!tried[i] && readers[i]->Extension() == ext && Parse(*readers[i], text, sink))
      return accept(*readers[i]);
  sink.Clear();
  return false;
}

bool ReadTrackFileInto(const std::string &path, TTrackSink &sink, std::string *readerName) {
  sink.Clear();
  if (readerName) readerName->clear();
  // A recording given as its own telemetry: what the camera put inside it.
  if (IsRecordingFile(path)) {
    TEmbeddedReport report;
    const bool ok = ReadEmbeddedTelemetryInto(path, sink, &report);
    if (ok && readerName) *readerName = report.Format;
    return ok;
  }
  FileTimes(path, sink.Created, sink.Modified);
  // Files from this size on that GPX would be the first reader to try are
  // scanned as they are read: no copy of the text, no memory for it.
  constexpr int64_t kScanFrom = 1 << 20;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    struct stat st {};
    char head[512];
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kScanFrom &&
        st.st_size <= kMaxTrackFileSize) {
      do {
        got = ::read(fd, head, sizeof head);
      } while (got < 0 && errno == EINTR);
    }
    if (got == static_cast<ssize_t>(sizeof head) && ::lseek(fd, 0, SEEK_SET) == 0) {
      const std::string_view header(head, sizeof head);
      const TGpsConverterList readers = MakeGpsReaders();
      const auto first = std::find_if(readers.begin(), readers.end(),
                                      [&](const auto &r) { return r->CanRead(header); });
      auto *gpx =
          first != readers.end() ? dynamic_cast<TGpsInfoConverterGPX *>(first->get()) : nullptr;
      if (gpx) {
        sink.SetTextSize(static_cast<size_t>(st.st_size));
        bool ok = false;
        try {
          ok = gpx->ReadFile(fd, static_cast<size_t>(st.st_size), sink);
        } catch (...) {
          ok = false;
        }
        if (ok) {
          ::close(fd);
          if (readerName) *readerName = gpx->Name();
          return true;
        }
        sink.Clear();  // the other readers may still take the text
      }
    }
    ::close(fd);
  }
  TFileText text;
  ReadWholeFile(path, text);  // unreadable: empty text, which no reader takes
  sink.SetTextSize(text.Size);
  return ReadTrackInto(text.View(), path, sink, readerName);
}

bool ReadTrackText(std::string_view text, const std::string &path, double created, double modified,
                   TTrackInfo &t, std::string *readerName) {
  t.Clear();
  t.StartTime = created;
  t.EndTime = modified;
  TItemsSink sink(text.size());
  sink.Created = created;
  sink.Modified = modified;
  const bool ok = ReadTrackInto(text, path, sink, readerName);
  sink.MoveTo(t.Items);
  return ok;
}

bool ReadTrackFile(std::string_view text, const std::string &path, TTrackInfo &t,
                   std::string *readerName) {
  double created = 0, modified = 0;
  FileTimes(path, created, modified);
  return ReadTrackText(text, path, created, modified, t, readerName);
}

// ---- writing -------------------------------------------------------------------

namespace {

template <typename WriteFn>
std::string WriteWith(TGpsInfoConverter &converter, size_t items, WriteFn write) {
  converter.Buffer.clear();
  // Room for a typical line per record at once: a day's track is written
  // without copying the text over and over as it grows.
  const size_t guess = 1000 + 64 * items;
  converter.Buffer.reserve(guess);
  AdviseHugePages(converter.Buffer.data(), guess);
  try {
    write();
  } catch (...) {
    // The text written so far is returned.
  }
  std::string out = std::move(converter.Buffer);
  converter.Buffer.clear();
  return out;
}

}  // namespace

std::string WriteTrackText(TGpsInfoConverter &converter, const TTrackInfo &t) {
  return WriteWith(converter, t.Items.size(), [&] { converter.Write(t); });
}

std::string WriteTrackText(TGpsInfoConverter &converter, const TMovingInfo &mi) {
  TTrackInfo summary;
  SummarizeTrack(mi, summary);
  return WriteWith(converter, mi.GpsPoints.size(),
                   [&] { converter.WritePoints(summary, mi.GpsPoints); });
}

TLoadDepth DepthFor(const std::vector<TGpsInfoConverter *> &writers) {
  TLoadDepth depth = TLoadDepth::Positions;
  for (const TGpsInfoConverter *w : writers) depth = std::max(depth, w->Depth());
  return depth;
}

std::unique_ptr<TMovingInfo> LoadTrackFor(const std::string &path,
                                          const std::vector<TGpsInfoConverter *> &writers) {
  return TMovingInfo::LoadFromFile(path, DepthFor(writers));
}

// ---- files -----------------------------------------------------------------------

namespace {

// Reads a regular file of at most kMaxTrackFileSize bytes into the buffer
// that `alloc` gives for its size; the number of bytes read, or -1.
template <typename Alloc>
int64_t ReadRegularFile(const std::string &path, Alloc alloc) {
  // O_NONBLOCK: opening a FIFO or a device must not wait; they are refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  int64_t got = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxTrackFileSize) {
    const size_t size = static_cast<size_t>(st.st_size);
    char *buf = alloc(size);
    size_t done = 0;
    while (done < size) {
      const ssize_t r = ::read(fd, buf + done, size - done);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      done += static_cast<size_t>(r);
    }
    got = static_cast<int64_t>(done);  // a file that shrank while read gives what was there
  }
  ::close(fd);
  return got;
}

}  // namespace

bool ReadWholeFile(const std::string &path, std::string &out) {
  out.clear();
  const int64_t got = ReadRegularFile(path, [&](size_t size) {
    out.resize(size);
    return out.data();
  });
  out.resize(got < 0 ? 0 : static_cast<size_t>(got));
  return got >= 0;
}

bool ReadWholeFile(const std::string &path, TFileText &out) {
  out = TFileText();
  const int64_t got = ReadRegularFile(path, [&](size_t size) {
    out.Data.reset(new char[std::max<size_t>(size, 1)]);  // left uninitialised: read fills it
    AdviseHugePages(out.Data.get(), size);
    return out.Data.get();
  });
  out.Size = got < 0 ? 0 : static_cast<size_t>(got);
  if (got < 0) out.Data.reset();
  return got >= 0;
}

void AdviseHugePages(const void *p, size_t bytes) {
  constexpr uintptr_t kHuge = 2u << 20;
  if (bytes < 2 * kHuge) return;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (to > from) ::madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
}

bool WriteTextFile(const std::string &path, std::string_view text, std::string *error) {
  return WriteFileAtomic(path, text, error);
}

bool FileTimes(const std::string &path, double &created, double &modified) {
  TFileStat st;
  const bool ok = StatFile(path, st);
  created = st.Created;
  modified = st.Modified;
  return ok;
}

// ---- dialog filters -------------------------------------------------------------

std::string SaveDialogFilter(const TGpsInfoConverter &c) {
  return c.Name() + " (." + c.Extension() + ")|*." + c.Extension() + "|";
}

std::string SaveDialogFilter() {
  std::string f;
  for (const auto &w : MakeGpsWriters()) f += SaveDialogFilter(*w);
  return f;
}

std::string OpenDialogFilter() {
  std::vector<std::string> exts;
  for (const auto &r : MakeGpsReaders())
    if (std::find(exts.begin(), exts.end(), r->Extension()) == exts.end())
      exts.push_back(r->Extension());
  std::string list, spaced, each;
  for (const auto &e : exts) {
    list += "*." + e + ";";
    spaced += "*." + e + "  ";
    each += "*." + e + "|*." + e + "|";
  }
  return "All files|*.*|All supported formats  ( " + spaced + ")|" + list + "|" + each;
}

}  // namespace tachora
