#include "render/UnitRender.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

#include "app/UnitFileIO.h"
#include "render/UnitRenderMedia.h"
#include "render/UnitRenderOverlay.h"

namespace tachora {

namespace {

constexpr double kDefaultFrameRate = 30;
constexpr double kInsetWidth = 0.3;  // of the picture's width
constexpr double kDay = 86400;

int Even(double v) {
  return std::max(2, static_cast<int>(v) & ~1);
}

struct TRect {
  int X = 0, Y = 0, W = 0, H = 0;
};

// Where each camera goes in the output picture.
struct TLayoutPlan {
  int Width = 0, Height = 0;
  TRect Main;
  std::vector<TRect> Channels;
};

struct TSize {
  int W = 16, H = 9;
};

// Beyond these the picture is scaled down whole: a file claiming a huge or
// absurdly narrow picture must not make us allocate without bound.
constexpr int kMaxWidth = 7680, kMaxHeight = 4320;
constexpr double kMaxAspect = 4;

TSize Sane(TSize s) {
  s.W = std::max(1, s.W);
  s.H = std::max(1, s.H);
  if (s.W > s.H * kMaxAspect) s.W = static_cast<int>(s.H * kMaxAspect);
  if (s.H > s.W * kMaxAspect) s.H = static_cast<int>(s.W * kMaxAspect);
  return s;
}

void ScaleDown(TLayoutPlan &p) {
  const double f = std::min(
      {1.0, static_cast<double>(kMaxWidth) / p.Width, static_cast<double>(kMaxHeight) / p.Height});
  if (f >= 1) return;
  auto scale = [f](TRect &r) {
    r = {static_cast<int>(r.X * f) & ~1, static_cast<int>(r.Y * f) & ~1, Even(r.W * f),
         Even(r.H * f)};
  };
  scale(p.Main);
  for (TRect &r : p.Channels) scale(r);
  p.Width = Even(p.Width * f);
  p.Height = Even(p.Height * f);
}

TLayoutPlan PlanAt(const TRenderOptions &o, TSize main, const std::vector<TSize> &channels);

TLayoutPlan PlanLayout(const TRenderOptions &o, TSize main, std::vector<TSize> channels) {
  for (TSize &c : channels) c = Sane(c);
  TLayoutPlan p = PlanAt(o, Sane(main), channels);
  ScaleDown(p);
  return p;
}

TLayoutPlan PlanAt(const TRenderOptions &o, TSize main, const std::vector<TSize> &channels) {
  TLayoutPlan p;
  p.Height = Even(main.H);
  p.Width = Even(main.W);
  p.Main = {0, 0, p.Width, p.Height};
  if (o.Layout == TRenderLayout::MainOnly) return p;
  if (o.Layout == TRenderLayout::SideBySide) {
    for (const TSize &c : channels) {
      const int w = Even(static_cast<double>(p.Height) * c.W / c.H);
      p.Channels.push_back({p.Width, 0, w, p.Height});
      p.Width += w;
    }
    return p;
  }
  const int margin = Even(p.Width / 50.0);
  const bool right = o.Corner == TRenderCorner::TopRight || o.Corner == TRenderCorner::BottomRight;
  const bool top = o.Corner == TRenderCorner::TopRight || o.Corner == TRenderCorner::TopLeft;
  int along = margin;  // insets of several cameras sit in a row from the corner
  for (const TSize &c : channels) {
    const int w = Even(p.Width * kInsetWidth);
    const int h = std::min(Even(static_cast<double>(w) * c.H / c.W), Even(p.Height - 2 * margin));
    const int x = right ? p.Width - along - w : along;
    const int y = top ? margin : p.Height - margin - h;
    p.Channels.push_back({std::max(0, x) & ~1, std::max(0, y) & ~1, w, h});
    along += w + margin;
  }
  return p;
}

// One recording's part of the range, in its file's own seconds.
struct TSegment {
  size_t Recording = 0;
  double From = 0, To = 0;
  int64_t Frames = 0;
};

struct TProbe {
  bool Readable = false;
  double Duration = -1;
  TSize Size;
  double FrameRate = 0;
  bool Sound = false;
  int SampleRate = 0, SoundChannels = 0;
};

TProbe ProbeFile(const std::string &path, bool sound, std::string &error) {
  TProbe p;
  TPictureSource s;
  if (!s.Open(path, sound, error)) return p;
  p.Readable = true;
  p.Duration = s.Duration();
  p.Size = {s.Width(), s.Height()};
  p.FrameRate = s.FrameRate();
  if (s.HasSound()) {
    p.Sound = true;
    p.SampleRate = s.SampleRate();
    p.SoundChannels = s.SoundChannels();
  }
  return p;
}

bool SameFile(const std::string &a, const std::string &b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

// The frame rate as a fraction the encoder takes (30000/1001 stays exact).
void RateFraction(double fps, int &num, int &den) {
  const double ntsc = fps * 1.001;
  if (std::fabs(ntsc - std::round(ntsc)) < 0.01 && std::fabs(fps - std::round(fps)) > 0.01) {
    num = static_cast<int>(std::round(ntsc)) * 1000;
    den = 1001;
  } else {
    num = static_cast<int>(std::round(fps));
    den = 1;
  }
}

class TRenderer {
 public:
  TRenderer(const TRenderTrip &trip, const TRenderOptions &o, const TRenderProgressFn &progress)
      : trip_(trip), o_(o), progress_(progress) {}
  TRenderResult Run();

 private:
  bool Plan();
  bool CheckOutput();
  bool RenderSegment(const TSegment &seg);
  // False when the main file has ended (nothing to show at t).
  bool Compose(TYuvPlanes &pic, const TSegment &seg, double t, TPictureSource &main,
               std::vector<std::unique_ptr<TPictureSource>> &channels,
               std::vector<bool> &shortNoted, const TTelemetryTimeline &telemetry);
  bool Report(bool force);
  void Note(TRenderNoteKind kind, const std::string &path, const std::string &detail = {}) {
    r_.Notes.push_back({kind, path, detail});
  }
  bool Fail(TRenderError e, const std::string &path = {}, const std::string &detail = {}) {
    r_.Error = e;
    r_.ErrorPath = path;
    r_.ErrorDetail = detail;
    return false;
  }

  const TRenderTrip &trip_;
  const TRenderOptions &o_;
  const TRenderProgressFn &progress_;
  TRenderResult r_;
  std::vector<TSegment> segments_;
  TLayoutPlan layout_;
  double fps_ = kDefaultFrameRate;
  int rateNum_ = 30, rateDen_ = 1;
  bool sound_ = false;
  int sampleRate_ = 48000, soundChannels_ = 2;
  int64_t totalFrames_ = 0, doneFrames_ = 0;
  TMovieWriter writer_;
  TScaler mainScaler_;
  std::vector<TScaler> channelScalers_;
  std::chrono::steady_clock::time_point started_, lastReport_;
};

bool TRenderer::Plan() {
  bool haveGrid = false;
  TSize mainSize;
  std::vector<TSize> channelSizes;
  std::vector<bool> channelKnown;
  for (size_t i = 0; i < trip_.Recordings.size(); ++i) {
    const TRenderRecording &rec = trip_.Recordings[i];
    if (rec.Start >= o_.To) continue;
    if (rec.Duration >= 0 && rec.Start + rec.Duration <= o_.From) continue;
    std::string error;
    const TProbe p = ProbeFile(rec.Main.Path, true, error);
    if (!p.Readable) {
      Note(TRenderNoteKind::Unreadable, rec.Main.Path, error);
      continue;
    }
    const double duration = rec.Duration >= 0 ? rec.Duration : p.Duration;
    TSegment seg{i, std::max(0.0, o_.From - rec.Start), std::min(duration, o_.To - rec.Start), 0};
    if (!(seg.To > seg.From)) continue;
    if (!haveGrid) {
      haveGrid = true;
      mainSize = p.Size;
      RateFraction(p.FrameRate > 0 ? p.FrameRate : kDefaultFrameRate, rateNum_, rateDen_);
      fps_ = static_cast<double>(rateNum_) / rateDen_;
    }
    if (p.Sound && !sound_) {
      sound_ = true;
      sampleRate_ = p.SampleRate;
      soundChannels_ = p.SoundChannels;
    }
    if (o_.Layout != TRenderLayout::MainOnly)
      for (size_t k = 0; k < rec.Channels.size(); ++k) {
        if (k >= channelSizes.size()) {
          channelSizes.resize(k + 1);
          channelKnown.resize(k + 1, false);
        }
        if (channelKnown[k]) continue;
        std::string ignored;
        const TProbe c = ProbeFile(rec.Channels[k].Path, false, ignored);
        if (c.Readable) {
          channelSizes[k] = c.Size;
          channelKnown[k] = true;
        }
      }
    seg.Frames = std::max<int64_t>(1, std::llround((seg.To - seg.From) * fps_));
    totalFrames_ += seg.Frames;
    segments_.push_back(seg);
  }
  if (segments_.empty()) {
    const bool inRange = std::any_of(r_.Notes.begin(), r_.Notes.end(), [](const TRenderNote &n) {
      return n.Kind == TRenderNoteKind::Unreadable;
    });
    return Fail(inRange ? TRenderError::NothingReadable : TRenderError::EmptySelection);
  }
  // The AAC encoder takes the usual rates; anything else is resampled.
  static const int kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  if (std::find(std::begin(kRates), std::end(kRates), sampleRate_) == std::end(kRates))
    sampleRate_ = 48000;
  layout_ = PlanLayout(o_, mainSize, channelSizes);
  channelScalers_ = std::vector<TScaler>(layout_.Channels.size());
  return true;
}

bool TRenderer::CheckOutput() {
  if (o_.Output.empty()) return Fail(TRenderError::NoOutput);
  for (const TRenderRecording &rec : trip_.Recordings) {
    if (SameFile(o_.Output, rec.Main.Path))
      return Fail(TRenderError::ReplacesSource, rec.Main.Path);
    for (const TRenderSource &c : rec.Channels)
      if (SameFile(o_.Output, c.Path)) return Fail(TRenderError::ReplacesSource, c.Path);
  }
  std::error_code ec;
  if (!o_.Overwrite && std::filesystem::exists(o_.Output, ec))
    return Fail(TRenderError::WouldReplace, o_.Output);
  return true;
}

bool TRenderer::Report(bool force) {
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastReport_ < std::chrono::milliseconds(100)) return true;
  lastReport_ = now;
  if (!progress_) return true;
  TRenderProgress p;
  p.Fraction = totalFrames_ > 0 ? static_cast<double>(doneFrames_) / totalFrames_ : 0;
  p.OutputSeconds = doneFrames_ / fps_;
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  if (p.Fraction > 0.01 && elapsed > 0.5)
    p.RemainingSeconds = elapsed * (1 - p.Fraction) / p.Fraction;
  return progress_(p);
}

bool TRenderer::Compose(TYuvPlanes &pic, const TSegment &seg, double t, TPictureSource &main,
                        std::vector<std::unique_ptr<TPictureSource>> &channels,
                        std::vector<bool> &shortNoted, const TTelemetryTimeline &telemetry) {
  const TRenderRecording &rec = trip_.Recordings[seg.Recording];
  const int scale = OverlayScale(layout_.Height);
  // Every frame has a fresh buffer: what no camera covers (a rounding
  // strip, a black inset) must not show stale memory.
  FillBlack(pic, 0, 0, pic.Width, pic.Height);
  // The other cameras decode while the main one does: each source is used
  // by one thread at a time, and all are done before anything is drawn.
  std::vector<std::future<const AVFrame *>> pending(layout_.Channels.size());
  for (size_t k = 0; k < pending.size() && k < channels.size(); ++k)
    if (channels[k])
      pending[k] = std::async(std::launch::async,
                              [source = channels[k].get(), t] { return source->FrameAt(t); });
  const AVFrame *frame = main.FrameAt(t);
  std::vector<const AVFrame *> shown(pending.size(), nullptr);
  for (size_t k = 0; k < pending.size(); ++k)
    if (pending[k].valid()) shown[k] = pending[k].get();
  if (main.Ended()) return false;
  if (!frame ||
      !mainScaler_.Draw(frame, pic, layout_.Main.X, layout_.Main.Y, layout_.Main.W, layout_.Main.H))
    FillBlack(pic, layout_.Main.X, layout_.Main.Y, layout_.Main.W, layout_.Main.H);
  for (size_t k = 0; k < layout_.Channels.size(); ++k) {
    const TRect &box = layout_.Channels[k];
    // A thin dark frame sets an inset off from the picture behind it.
    if (o_.Layout == TRenderLayout::PictureInPicture)
      FillBlack(pic, box.X - 2, box.Y - 2, box.W + 4, box.H + 4);
    const AVFrame *f = shown[k];
    if (!f || !channelScalers_[k].Draw(f, pic, box.X, box.Y, box.W, box.H)) {
      FillBlack(pic, box.X, box.Y, box.W, box.H);
      if (k < channels.size() && channels[k] && channels[k]->Ended() && !shortNoted[k]) {
        shortNoted[k] = true;
        Note(TRenderNoteKind::ChannelShorter, rec.Channels[k].Path);
      }
    }
    const std::string label = k < rec.Channels.size() ? rec.Channels[k].Label : std::string();
    DrawLabel(pic, label, box.X + scale * 2, box.Y + scale * 2, std::max(1, scale - 1));
  }
  if (o_.Overlay.Any()) {
    TOverlayValues v = telemetry.At(rec.StartDate > 0 ? rec.StartDate + t / kDay : 0);
    if (!(rec.StartDate > 0)) v.Time = 0;
    DrawOverlay(pic, OverlayLines(v, o_.Overlay, o_.Units), scale);
  }
  return true;
}

bool TRenderer::RenderSegment(const TSegment &seg) {
  const TRenderRecording &rec = trip_.Recordings[seg.Recording];
  TPictureSource main;
  std::string error;
  if (!main.Open(rec.Main.Path, sound_, error)) {
    Note(TRenderNoteKind::Unreadable, rec.Main.Path, error);
    doneFrames_ += seg.Frames;
    return true;
  }
  if (sound_ && !main.HasSound()) Note(TRenderNoteKind::NoSound, rec.Main.Path);
  const int64_t soundStart = writer_.SoundSamples();
  const int rate = writer_.SampleRate();
  const int64_t soundLimit = soundStart + std::llround((seg.To - seg.From) * rate);
  main.SetSoundSink([&](const AVFrame *f, double time) {
    writer_.AddSound(f, soundStart + std::llround((time - seg.From) * rate), soundLimit);
  });
  main.Seek(seg.From);
  std::vector<std::unique_ptr<TPictureSource>> channels;
  for (size_t k = 0; k < rec.Channels.size() && k < layout_.Channels.size(); ++k) {
    auto c = std::make_unique<TPictureSource>();
    std::string why;
    if (c->Open(rec.Channels[k].Path, false, why, o_.Layout == TRenderLayout::PictureInPicture)) {
      c->Seek(seg.From);
      channels.push_back(std::move(c));
    } else {
      Note(TRenderNoteKind::ChannelMissing, rec.Channels[k].Path, why);
      channels.push_back(nullptr);
    }
  }
  std::vector<bool> shortNoted(channels.size(), false);
  const TTelemetryTimeline telemetry(rec.Telemetry);
  for (int64_t k = 0; k < seg.Frames; ++k) {
    const double t = seg.From + k / fps_;
    TYuvPlanes pic;
    if (!writer_.NextPicture(pic))
      return Fail(TRenderError::CannotWrite, o_.Output, "out of memory");
    if (!Compose(pic, seg, t, main, channels, shortNoted, telemetry)) {
      // The main file is shorter than the trip says: the rest is left out.
      doneFrames_ += seg.Frames - k;
      break;
    }
    if (!writer_.WriteFrame())
      return Fail(TRenderError::CannotWrite, o_.Output, writer_.WriteError());
    ++r_.Frames;
    ++doneFrames_;
    if (!Report(false)) return Fail(TRenderError::Cancelled);
  }
  main.DrainSoundUntil(seg.To);
  if (!writer_.PadSound(std::llround(r_.Frames / fps_ * rate)))
    return Fail(TRenderError::CannotWrite, o_.Output, writer_.WriteError());
  const auto damaged = [&](const TPictureSource &s, const std::string &path) {
    if (s.DecodeErrors() > 0)
      Note(TRenderNoteKind::DecodeErrors, path, std::to_string(s.DecodeErrors()));
  };
  damaged(main, rec.Main.Path);
  for (size_t k = 0; k < channels.size(); ++k)
    if (channels[k]) damaged(*channels[k], rec.Channels[k].Path);
  return true;
}

TRenderResult TRenderer::Run() {
  started_ = std::chrono::steady_clock::now();
  if (!CheckOutput()) return r_;
  if (!(o_.To > o_.From)) {
    Fail(TRenderError::EmptySelection);
    return r_;
  }
  if (!Plan()) return r_;
  TAtomicFile file(o_.Output);
  std::string error;
  if (!file.Open(&error)) {
    Fail(TRenderError::CannotCreate, o_.Output, error);
    return r_;
  }
  TWriterSetup setup;
  setup.Width = layout_.Width;
  setup.Height = layout_.Height;
  setup.FrameRateNum = rateNum_;
  setup.FrameRateDen = rateDen_;
  setup.Encoders =
      o_.Encoders.empty() ? std::vector<std::string>{"h264_nvenc", "libx264"} : o_.Encoders;
  setup.Preset = o_.Preset;
  setup.Sound = sound_;
  setup.SampleRate = sampleRate_;
  setup.Channels = soundChannels_;
  if (!writer_.Open(file.Fd(), setup, error)) {
    const bool encoder = writer_.Encoder().empty() || error.rfind("AAC", 0) == 0;
    Fail(encoder ? TRenderError::NoEncoder : TRenderError::CannotWrite, o_.Output, error);
    return r_;
  }
  r_.Encoder = writer_.Encoder();
  r_.Width = layout_.Width;
  r_.Height = layout_.Height;
  r_.FrameRate = fps_;
  r_.HasSound = sound_;
  for (const TSegment &seg : segments_)
    if (!RenderSegment(seg)) {
      r_.Cancelled = r_.Error == TRenderError::Cancelled;
      return r_;  // the temporary file goes with `file`
    }
  if (r_.Frames == 0) {
    Fail(TRenderError::NothingReadable);
    return r_;
  }
  if (!writer_.Finish(error)) {
    Fail(TRenderError::CannotWrite, o_.Output, error);
    return r_;
  }
  if (!file.Commit(TAtomicFile::TSync::Removable, &error)) {
    Fail(TRenderError::CannotWrite, o_.Output, error);
    return r_;
  }
  Report(true);
  r_.Written = true;
  r_.Path = o_.Output;
  r_.OutputSeconds = r_.Frames / fps_;
  return r_;
}

}  // namespace

TRenderResult RenderTrip(const TRenderTrip &trip, const TRenderOptions &options,
                         const TRenderProgressFn &progress) {
  // The libraries' own messages would interleave with our progress lines;
  // what matters reaches the caller as notes and errors.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
  return TRenderer(trip, options, progress).Run();
}

const char *LayoutName(TRenderLayout layout) {
  switch (layout) {
    case TRenderLayout::SideBySide:
      return "side";
    case TRenderLayout::MainOnly:
      return "main";
    default:
      return "pip";
  }
}

bool ParseLayout(const std::string &word, TRenderLayout &out) {
  for (TRenderLayout l :
       {TRenderLayout::PictureInPicture, TRenderLayout::SideBySide, TRenderLayout::MainOnly})
    if (word == LayoutName(l)) {
      out = l;
      return true;
    }
  return false;
}

namespace {

struct TOverlayWord {
  const char *Word;
  bool TRenderOverlay::*Flag;
};
constexpr TOverlayWord kOverlayWords[] = {{"time", &TRenderOverlay::Time},
                                          {"speed", &TRenderOverlay::Speed},
                                          {"position", &TRenderOverlay::Position},
                                          {"gsensor", &TRenderOverlay::GSensor}};

}  // namespace

bool ParseOverlay(const std::string &words, TRenderOverlay &out) {
  TRenderOverlay o{false, false, false, false};
  for (const std::string &w : SplitString(words, ',')) {
    const std::string word(Trim(w));
    if (word.empty()) continue;
    const auto it = std::find_if(std::begin(kOverlayWords), std::end(kOverlayWords),
                                 [&](const TOverlayWord &k) { return word == k.Word; });
    if (it == std::end(kOverlayWords)) return false;
    o.*(it->Flag) = true;
  }
  out = o;
  return true;
}

std::string OverlayText(const TRenderOverlay &overlay) {
  std::string out;
  for (const TOverlayWord &k : kOverlayWords)
    if (overlay.*(k.Flag)) out += (out.empty() ? "" : ",") + std::string(k.Word);
  return out;
}

std::string RenderErrorText(const TRenderResult &r) {
  const std::string detail = r.ErrorDetail.empty() ? "" : ": " + r.ErrorDetail;
  switch (r.Error) {
    case TRenderError::None:
      return {};
    case TRenderError::NoOutput:
      return "no output file given";
    case TRenderError::EmptySelection:
      return "no recording lies in the chosen range";
    case TRenderError::ReplacesSource:
      return "the output would replace " + r.ErrorPath + ", a file of the trip";
    case TRenderError::WouldReplace:
      return r.ErrorPath + " exists (--overwrite replaces it)";
    case TRenderError::NothingReadable:
      return "none of the recordings in the range can be read";
    case TRenderError::NoEncoder:
      return "no encoder could be opened" + detail;
    case TRenderError::CannotCreate:
      return "cannot create " + r.ErrorPath + detail;
    case TRenderError::CannotWrite:
      return "cannot write " + r.ErrorPath + detail;
    case TRenderError::Cancelled:
      return "cancelled; nothing written";
  }
  return {};
}

std::string RenderNoteText(const TRenderNote &n) {
  const std::string detail = n.Detail.empty() ? "" : " (" + n.Detail + ")";
  switch (n.Kind) {
    case TRenderNoteKind::Unreadable:
      return n.Path + ": cannot be read, left out" + detail;
    case TRenderNoteKind::ChannelMissing:
      return n.Path + ": cannot be read, its picture is black" + detail;
    case TRenderNoteKind::ChannelShorter:
      return n.Path + ": ends early, its picture is black after its end";
    case TRenderNoteKind::NoSound:
      return n.Path + ": has no sound, silence instead";
    case TRenderNoteKind::DecodeErrors:
      return n.Path + ": damaged frames" + detail;
  }
  return n.Path;
}

}  // namespace tachora
