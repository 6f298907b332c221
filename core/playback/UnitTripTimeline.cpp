#include "playback/UnitTripTimeline.h"

#include <algorithm>
#include <cmath>

namespace tachora {

namespace {

TSpanFraction FractionOf(long double x, long double start, long double end) {
  if (!(end > start)) return {};
  const long double f = (x - start) / (end - start);
  return {f, f >= 0 && f <= 1};
}

std::string BaseName(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

TTimeView NormaliseView(TTimeView view, double tripDays) {
  if (!std::isfinite(view.Start) || !std::isfinite(view.End)) view = TTimeView{};
  if (view.End < view.Start) std::swap(view.Start, view.End);
  const long double second = 1.0L / kSecPerDay;
  const long double minWidth = 0.5L * second / (std::max(0.0, tripDays) + second);
  long double width = view.End - view.Start;
  if (width < minWidth) {
    const long double centre = (view.Start + view.End) / 2;
    width = minWidth;
    view.Start = centre - width / 2;
    view.End = centre + width / 2;
  }
  if (view.End > 1) {
    view.Start = 1 - width;
    view.End = 1;
  }
  if (view.Start < 0) {
    view.Start = 0;
    view.End = width;
  }
  if (view.End > 1) view.End = 1;
  return view;
}

double RateOfTag(int tag) {
  return tag >= 0 ? tag + 1.0 : 1.0 / (1 - tag);
}

TTripTimeline::TTripTimeline(TPlayerEngine &engine, TTimelineListener &listener)
    : m_engine(engine), m_listener(listener) {}

// ---- the trip --------------------------------------------------------------

void TTripTimeline::LoadTrip(const TFileItem &row) {
  ResetState();
  m_row = row;
  // A lone recording whose times are unknown gets no span from the
  // catalogue; it still plays from 0 to 1.
  if (m_row.Items.size() == 1 && !(m_row.Items[0].RelEnd > m_row.Items[0].RelStart)) {
    m_row.Items[0].RelStart = 0;
    m_row.Items[0].RelEnd = 1;
  }
  m_loaded = !m_row.Items.empty();
}

bool TTripTimeline::HasTimeLine() const {
  return m_loaded && m_row.Summary.Start < m_row.Summary.End;
}

void TTripTimeline::ResetState() {
  m_current = -1;
  m_lastSeek = m_lastReported = 0;
  m_dragging = false;
  m_dragPosition = 0;
  m_view = TTimeView{};
  m_a = m_b = 0;
  m_loop = false;
  m_stepRefresh = false;
  m_jumpTime.reset();
  m_playDown = false;
}

bool TTripTimeline::EngineRunning() const {
  const TEngineState s = m_engine.State();
  return s == TEngineState::kPaused || s == TEngineState::kPlaying;
}

// ---- positions -------------------------------------------------------------

int TTripTimeline::RecordingAt(long double x) const {
  const auto &items = m_row.Items;
  const int n = Count();
  for (int i = 0; i < n; ++i) {
    const auto &r = items[static_cast<size_t>(i)];
    const bool beforeEnd = x < r.RelEnd || i == n - 1;
    // A position in the gap before a recording belongs to it.
    const bool afterStart =
        x >= r.RelStart || i == 0 || x >= items[static_cast<size_t>(i) - 1].RelEnd;
    if (beforeEnd && afterStart) return i;
  }
  return 0;
}

int64_t TTripTimeline::DurationTicks(int i) const {
  if (i < 0 || i >= Count()) return 0;
  if (i == m_current && m_engine.HasSeeking()) {
    const int64_t d = m_engine.Duration();
    if (d > 0) return d;
  }
  // While the engine is still opening the file, the catalogue's duration
  // places the seek.
  const auto &r = m_row.Items[static_cast<size_t>(i)];
  return r.Duration > 0 && r.DurationSource >= kDurNoHeader ? r.Duration * 10000 : 0;
}

void TTripTimeline::LearnDuration() {
  if (m_current < 0 || m_current >= Count()) return;
  auto &r = m_row.Items[static_cast<size_t>(m_current)];
  if (r.DurationSource != kDurNoHeader) return;
  const int64_t d = m_engine.Duration();
  if (d <= 0) return;
  r.DurationSource = kDurContainer;
  r.Duration = d / 10000;
  m_listener.TimelineDurationLearned(m_current, r.Duration);
}

long double TTripTimeline::Position() {
  long double p = m_lastSeek;
  int64_t c = 0;
  if (m_dragging) {
    p = m_dragPosition;
  } else if (m_loaded && m_current >= 0 && m_current < Count() && EngineRunning() &&
             m_engine.HasSeeking() && m_engine.CurrentPosition(c)) {
    LearnDuration();
    // Until the engine knows the duration (just after a load) the
    // catalogue's places the position, as it placed the seek.
    const int64_t d = DurationTicks(m_current);
    const bool last = m_current == Count() - 1;
    const bool ended = m_engine.AtEnd() || (d > 0 && c >= d - 1);
    if (last || !ended) {
      long double f = d > 0 ? static_cast<long double>(c) / d : 0;
      if (ended) f = 1;
      p = FromRecording(m_current, std::clamp(f, 0.0L, 1.0L));
      if (m_rate != 1 && m_engine.ReportsScaledPosition() && p > m_lastSeek)
        p = m_lastSeek + (p - m_lastSeek) / m_rate;
    } else {
      const auto &cur = m_row.Items[static_cast<size_t>(m_current)];
      const auto &next = m_row.Items[static_cast<size_t>(m_current) + 1];
      Seek(std::max(cur.RelEnd, next.RelStart));
      p = m_lastSeek;
    }
  }
  m_lastReported = p;
  return p;
}

void TTripTimeline::Seek(long double position, bool refresh, bool forceLoad) {
  m_lastSeek = position;
  m_dragging = false;
  m_listener.TimelineSeeked();
  if (!m_loaded || !(position >= 0 && position <= 1)) return;
  const int i = RecordingAt(position);
  const auto &r = m_row.Items[static_cast<size_t>(i)];
  position = std::max(position, r.RelStart);  // a gap snaps forward
  if (i != m_current) LoadRecording(i, forceLoad);
  if ((EngineRunning() || forceLoad) && m_engine.HasSeeking()) {
    const int64_t d = DurationTicks(i);
    const long double f = std::clamp(ToRecording(i, position).Value, 0.0L, 1.0L);
    const int64_t target = std::llround(d * f);
    m_engine.SeekTo(target);
    m_lastSeek = FromRecording(i, d > 0 ? static_cast<long double>(target) / d : 0);
  }
  if (m_stepRefresh && m_engine.State() == TEngineState::kPaused) {
    m_engine.RefreshPicture();
    m_stepRefresh = false;
  }
  if (refresh) m_listener.TimelineRefresh();
}

void TTripTimeline::LoadRecording(int i, bool force) {
  TEngineState s = m_engine.State();
  m_engine.Stop();
  bool running = s == TEngineState::kPaused || s == TEngineState::kPlaying;
  if (force && !running) {
    s = m_playDown ? TEngineState::kPlaying : TEngineState::kPaused;
    running = true;
  }
  m_current = i;
  if (running) {
    m_engine.Open(m_row.Items[static_cast<size_t>(i)].Path);
    m_engine.SetRate(m_rate);
    LearnDuration();
    if (s == TEngineState::kPlaying)
      m_engine.Play();
    else
      m_engine.Pause();
  }
  m_playDown = s == TEngineState::kPlaying;
  m_listener.TimelineRecordingLoaded(i, m_playDown);
}

// ---- controls --------------------------------------------------------------

void TTripTimeline::SetPlay(bool down) {
  if (!m_loaded) {
    m_playDown = false;
    return;
  }
  m_playDown = down;
  // First press, or the recording was lost (a failed open, a pulled card):
  // load the recording at the last position again.
  if (!m_engine.Active() || !m_engine.HasSeeking()) {
    if (!m_engine.Active()) m_engine.Activate();
    m_current = -1;
    Seek(m_lastReported, false, true);
  }
  if (down) {
    if (m_engine.State() != TEngineState::kPlaying) m_engine.Play();
  } else if (m_engine.State() == TEngineState::kPlaying) {
    m_engine.Pause();
  }
}

void TTripTimeline::Stop() {
  if (m_engine.Active()) {
    m_engine.Stop();
    m_engine.Deactivate();
  }
  ResetState();
  m_row = TFileItem{};
  m_loaded = false;
}

void TTripTimeline::ReopenAt(long double position) {
  if (!m_loaded) return;
  m_lastSeek = m_lastReported = std::clamp(position, 0.0L, 1.0L);
  m_current = -1;
  if (m_engine.Active()) m_engine.Stop();
  SetPlay(m_playDown);
}

void TTripTimeline::SetRate(double rate) {
  if (!(rate > 0) || !std::isfinite(rate)) return;
  const bool running = EngineRunning() && m_engine.HasSeeking();
  if (running && m_engine.ReportsScaledPosition()) {
    // Such an engine scales its position from the last seek: seek again so
    // that the new rate counts from here.
    const long double p = Position();
    const bool wasPlaying = m_engine.State() == TEngineState::kPlaying;
    m_engine.Pause();
    m_rate = rate;
    m_engine.SetRate(rate);
    Seek(p, true);
    if (wasPlaying) m_engine.Play();
    return;
  }
  m_rate = rate;
  if (m_engine.Active()) m_engine.SetRate(rate);
}

void TTripTimeline::NextFrame() {
  if (m_engine.State() != TEngineState::kPaused || !m_engine.HasSeeking()) return;
  m_engine.FrameStep(1);
  m_stepRefresh = true;
  m_listener.TimelineRefresh();
}

void TTripTimeline::BackFrames() {
  if (!HasTimeLine()) return;
  const long double second = 1.0L / kSecPerDay / (m_row.Summary.End - m_row.Summary.Start);
  Seek(std::max(0.0L, m_lastReported - second), true);
  if (m_engine.State() == TEngineState::kPaused) m_engine.RefreshPicture();
}

bool TTripTimeline::Jump(const TJumpOptions &options, double now) {
  // A press exactly a hold after the last one moves (the clock's rounding
  // must not decide).
  if (m_jumpTime && now >= *m_jumpTime && now - *m_jumpTime < m_jumpHold - 1e-6) return false;
  const long double p = Position();
  if (p < 0 || !m_engine.HasSeeking() || m_current < 0 || m_current >= Count()) return false;
  const auto &r = m_row.Items[static_cast<size_t>(m_current)];
  const int64_t d = std::max<int64_t>(1, DurationTicks(m_current));
  long double offset =
      static_cast<long double>(kJumpSeconds) * kTicksPerSecond / d * (r.RelEnd - r.RelStart);
  if (!options.Forward) offset = -offset;
  Seek(std::clamp(p + offset, 0.0L, 1.0L), true);
  m_jumpTime = now;
  m_jumpHold = options.HoldBack ? kJumpHoldSeconds : kJumpRepeatSeconds;
  if (options.FromWheel) m_jumpTime.reset();
  return true;
}

// ---- selection, loop, drag, view ---------------------------------------------

void TTripTimeline::SetA() {
  m_a = Position();
  if (m_a > m_b) m_b = 1;
}

void TTripTimeline::SetB() {
  m_b = Position();
  if (m_b < m_a) m_a = 0;
}

bool TTripTimeline::SetLoop(bool on) {
  m_loop = on && HasSelection();
  return m_loop == on;
}

void TTripTimeline::Drag(long double position) {
  m_dragging = true;
  m_dragPosition = std::clamp(position, 0.0L, 1.0L);
}

void TTripTimeline::SetView(TTimeView view) {
  m_view = NormaliseView(view, m_row.Summary.End - m_row.Summary.Start);
}

void TTripTimeline::KeepInView(long double p) {
  const long double w = m_view.End - m_view.Start;
  TTimeView v = m_view;
  if (p > m_view.End - 0.05L * w && m_view.End < 1) {
    v.Start = p - 0.1L * w;
    v.End = v.Start + w;
  } else if (p < m_view.Start) {
    v.Start = p - w / 2;
    v.End = p + w / 2;
  } else {
    return;
  }
  SetView(v);
  m_listener.TimelineViewChanged();
}

long double TTripTimeline::Tick(bool fromSender) {
  const long double p = Position();
  if (!m_loaded) return -1;
  if (p >= 0 && fromSender && m_engine.State() == TEngineState::kPlaying) {
    if (m_loop && HasSelection() && p >= m_b)
      Seek(m_a);
    else
      KeepInView(p);
  }
  return p;
}

// ---- conversions -------------------------------------------------------------

long double TTripTimeline::FromRecording(int i, long double f) const {
  if (i < 0 || i >= Count()) return 0;
  const auto &r = m_row.Items[static_cast<size_t>(i)];
  return r.RelStart + f * (r.RelEnd - r.RelStart);
}

TSpanFraction TTripTimeline::ToRecording(int i, long double x) const {
  if (i < 0 || i >= Count()) return {};
  const auto &r = m_row.Items[static_cast<size_t>(i)];
  return FractionOf(x, r.RelStart, r.RelEnd);
}

long double TTripTimeline::FromTelemetry(int i, long double f) const {
  if (i < 0 || i >= Count()) return 0;
  const auto &r = m_row.Items[static_cast<size_t>(i)];
  return r.RelGpsStart + f * (r.RelGpsEnd - r.RelGpsStart);
}

TSpanFraction TTripTimeline::ToTelemetry(int i, long double x) const {
  if (i < 0 || i >= Count()) return {};
  const auto &r = m_row.Items[static_cast<size_t>(i)];
  return FractionOf(x, r.RelGpsStart, r.RelGpsEnd);
}

int64_t TTripTimeline::MsFromStart(long double x) const {
  if (!m_loaded) return 0;
  return std::llround(x * (m_row.Summary.End - m_row.Summary.Start) * kMsPerDay);
}

TDateTime TTripTimeline::DateTimeAt(long double x) const {
  if (!m_loaded) return 0;
  return m_row.Summary.Start + static_cast<double>(x * (m_row.Summary.End - m_row.Summary.Start));
}

std::string TTripTimeline::Caption(long double x) const {
  if (!m_loaded) return {};
  const int i = RecordingAt(x);
  const std::string name = BaseName(m_row.Items[static_cast<size_t>(i)].Path);
  return Count() > 1 ? "[" + std::to_string(i + 1) + "] " + name : name;
}

}  // namespace tachora
