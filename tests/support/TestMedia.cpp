#include "TestMedia.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "app/UnitUtils.h"

namespace fs = std::filesystem;

namespace tachora::test {

std::string ShellQuote(const std::string &s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

int RunCommand(const std::string &command, std::string *output, std::string *errors) {
  std::string cmd = command;
  std::string errFile;
  if (errors) {
    errFile = (fs::temp_directory_path() / ("tachora-err-" + std::to_string(getpid()) + "-" +
                                            std::to_string(reinterpret_cast<uintptr_t>(errors))))
                  .string();
    cmd += " 2>" + ShellQuote(errFile);
  }
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
    if (output) output->append(buf.data(), n);
  int st = pclose(p);
  if (errors) {
    errors->clear();
    if (FILE *f = fopen(errFile.c_str(), "rb")) {
      while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) errors->append(buf.data(), n);
      fclose(f);
    }
    unlink(errFile.c_str());
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string TestMediaDir() {
  fs::path dir = fs::path(TACHORA_BUILD_DIR) / "test-media";
  fs::create_directories(dir);
  return dir.string();
}

std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string MakeTempDir(const std::string &name) {
  fs::path dir = fs::path(TACHORA_BUILD_DIR) / "test-out" / (name + "-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

static std::string SpecKey(const TMediaRecipe &s) {
  std::ostringstream o;
  o << s.video << '|' << s.audio << '|' << s.seconds << '|' << s.width << 'x' << s.height << '|'
    << s.fps << '|' << s.gop << '|' << s.bframes << '|' << s.sampleRate << '|' << s.channels << '|'
    << s.faststart << '|' << s.creationTime << '|' << s.extraArgs;
  std::ostringstream h;
  h << std::hex << std::hash<std::string>{}(o.str());
  return h.str().substr(0, 10);
}

static std::string FfmpegArgs(const TMediaRecipe &s, const std::string &out) {
  std::ostringstream c;
  c << "ffmpeg -nostdin -y -v error";
  const std::string dur = std::to_string(s.seconds);
  bool hasVideo = s.video != "none", hasAudio = s.audio != "none";
  if (hasVideo)
    c << " -f lavfi -i testsrc2=size=" << s.width << 'x' << s.height << ":rate=" << s.fps
      << ":duration=" << dur;
  if (hasAudio)
    c << " -f lavfi -i sine=frequency=440:sample_rate=" << s.sampleRate << ":duration=" << dur;
  if (hasVideo) {
    if (s.video == "mjpeg")
      c << " -c:v mjpeg -q:v 5 -pix_fmt yuvj420p";
    else
      c << " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g " << s.gop << " -keyint_min "
        << s.gop << " -sc_threshold 0" << (s.bframes ? " -bf 2" : " -bf 0");
  }
  if (hasAudio) {
    c << " -c:a " << s.audio << " -ac " << s.channels;
    if (s.audio == "aac") c << " -b:a 64k";
  }
  if (!s.creationTime.empty()) c << " -metadata creation_time=" << ShellQuote(s.creationTime);
  if (s.faststart) c << " -movflags +faststart";
  if (!s.extraArgs.empty()) c << ' ' << s.extraArgs;
  c << " -f mov " << ShellQuote(out);
  return c.str();
}

std::string GenerateMovie(const std::string &name, const TMediaRecipe &media) {
  fs::path path = fs::path(TestMediaDir()) / (name + "-" + SpecKey(media) + ".mov");
  if (fs::exists(path)) return path.string();
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(getpid());
  std::string errors;
  int rc = RunCommand(FfmpegArgs(media, tmp.string()), nullptr, &errors);
  if (rc != 0 || !fs::exists(tmp)) {
    fs::remove(tmp);
    throw std::runtime_error("ffmpeg failed for " + name + ": " + errors);
  }
  fs::rename(tmp, path);
  return path.string();
}

std::vector<std::string> GenerateTrip(const std::string &name, const std::vector<double> &durations,
                                      const std::string &start, TMediaRecipe media) {
  TDateTime t0 = 0;
  if (!ParseDateTime(start, t0)) throw std::runtime_error("bad trip start " + start);
  std::vector<std::string> paths;
  TDateTime t = t0;
  for (size_t i = 0; i < durations.size(); ++i) {
    media.seconds = durations[i];
    media.creationTime = FormatDateTime(t);
    std::string p = GenerateMovie(name + "-" + std::to_string(i + 1), media);
    TDateTime end = t + durations[i] / kSecPerDay;
    // Times in the file name are UTC like the creation time; the file's
    // modification time is the clip's end.
    double unixEnd = (end - kUnixEpochDate) * kSecPerDay;
    timespec ts[2];
    ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(unixEnd);
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    utimensat(AT_FDCWD, p.c_str(), ts, 0);
    paths.push_back(p);
    t = end;
  }
  return paths;
}

std::vector<TProbeStream> ProbeStreams(const std::string &path) {
  std::string out;
  if (RunCommand("ffprobe -v error -show_entries "
                 "stream=codec_type,codec_name,codec_tag_string,duration,nb_frames -of flat " +
                     ShellQuote(path),
                 &out) != 0)
    return {};
  // Lines of the form streams.stream.N.key="value".
  std::vector<TProbeStream> streams;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const std::string prefix = "streams.stream.";
    if (line.rfind(prefix, 0) != 0) continue;
    size_t dot = line.find('.', prefix.size());
    size_t eq = line.find('=', dot);
    if (dot == std::string::npos || eq == std::string::npos) continue;
    size_t index =
        static_cast<size_t>(ParseInt(line.substr(prefix.size(), dot - prefix.size()), 0));
    if (index > 64) continue;
    if (streams.size() <= index) streams.resize(index + 1);
    std::string key = line.substr(dot + 1, eq - dot - 1);
    std::string value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    TProbeStream &s = streams[index];
    if (key == "codec_type")
      s.type = value;
    else if (key == "codec_name")
      s.codec = value;
    else if (key == "codec_tag_string")
      s.tag = value;
    else if (key == "duration")
      s.duration = static_cast<double>(ParseFloatDot(value, -1));
    else if (key == "nb_frames")
      s.frames = ParseInt(value, -1);
  }
  return streams;
}

int64_t CountPackets(const std::string &path, int streamIndex) {
  std::string out;
  if (RunCommand("ffprobe -v error -count_packets -select_streams " + std::to_string(streamIndex) +
                     " -show_entries stream=nb_read_packets -of csv=p=0 " + ShellQuote(path),
                 &out) != 0)
    return -1;
  return ParseInt(Trim(out), -1);
}

bool DecodesCleanly(const std::string &path, std::string *errors) {
  std::string err;
  int rc =
      RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f null -", nullptr, &err);
  if (errors) *errors = err;
  return rc == 0 && Trim(err).empty();
}

std::string GenerateMp4(const std::string &name, const TMediaRecipe &media) {
  fs::path path = fs::path(TestMediaDir()) / (name + "-" + SpecKey(media) + ".mp4");
  if (fs::exists(path)) return path.string();
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(getpid());
  std::string args = FfmpegArgs(media, tmp.string());
  const size_t format = args.rfind(" -f mov ");
  args.replace(format, 8, " -f mp4 ");
  std::string errors;
  int rc = RunCommand(args, nullptr, &errors);
  if (rc != 0 || !fs::exists(tmp)) {
    fs::remove(tmp);
    throw std::runtime_error("ffmpeg failed for " + name + ": " + errors);
  }
  fs::rename(tmp, path);
  return path.string();
}

std::vector<std::string> GenerateMp4Trip(const std::string &name,
                                         const std::vector<double> &durations,
                                         const std::string &start, TMediaRecipe media) {
  TDateTime t = 0;
  if (!ParseDateTime(start, t)) throw std::runtime_error("bad trip start " + start);
  std::vector<std::string> paths;
  for (size_t i = 0; i < durations.size(); ++i) {
    media.seconds = durations[i];
    media.creationTime = FormatDateTime(t);
    std::string p = GenerateMp4(name + "-" + std::to_string(i + 1), media);
    t += durations[i] / kSecPerDay;
    const double unixEnd = (t - kUnixEpochDate) * kSecPerDay;
    timespec ts[2];
    ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(unixEnd);
    ts[0].tv_nsec = ts[1].tv_nsec = 0;
    utimensat(AT_FDCWD, p.c_str(), ts, 0);
    paths.push_back(p);
  }
  return paths;
}

std::string HevcArgs(int gop, bool bframes, const std::string &tag) {
  return "-c:v libx265 -preset ultrafast -x265-params log-level=error:keyint=" +
         std::to_string(gop) + ":min-keyint=" + std::to_string(gop) +
         ":scenecut=0:bframes=" + (bframes ? "2" : "0") + " -tag:v " + tag;
}

std::vector<double> StreamStartTimes(const std::string &path) {
  std::string out;
  if (RunCommand("ffprobe -v error -show_entries stream=start_time -of csv=p=0 " + ShellQuote(path),
                 &out) != 0)
    return {};
  std::vector<double> times;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (!Trim(line).empty()) times.push_back(static_cast<double>(ParseFloatDot(Trim(line), -1)));
  return times;
}

}  // namespace tachora::test

namespace tachora::test {

std::vector<uint8_t> DecodeFrameRgb(const std::string &path, int index, int width, int height) {
  std::string out;
  const std::string cmd = "ffmpeg -nostdin -v error -i " + ShellQuote(path) +
                          " -vf 'select=eq(n\\," + std::to_string(index) +
                          ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -";
  if (RunCommand(cmd, &out) != 0) return {};
  if (out.size() != static_cast<size_t>(width) * height * 3) return {};
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::string MakeUnknownSoundCodec(const std::string &name, const std::string &source) {
  fs::path path =
      fs::path(TestMediaDir()) / (name + "-" + fs::path(source).stem().string() + ".mov");
  if (fs::exists(path)) return path.string();
  std::string data;
  {
    FILE *f = fopen(source.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + source);
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) data.append(buf.data(), n);
    fclose(f);
  }
  // "stsd", version and flags, entry count, then the entry: size, format.
  bool patched = false;
  for (size_t at = data.find("stsd"); at != std::string::npos; at = data.find("stsd", at + 4)) {
    if (at + 20 <= data.size() && data.compare(at + 16, 4, "sowt") == 0) {
      data.replace(at + 16, 4, "zzzz");
      patched = true;
    }
  }
  if (!patched) throw std::runtime_error("no sowt track in " + source);
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(getpid());
  FILE *f = fopen(tmp.c_str(), "wb");
  if (!f || fwrite(data.data(), 1, data.size(), f) != data.size()) {
    if (f) fclose(f);
    throw std::runtime_error("cannot write " + tmp.string());
  }
  fclose(f);
  fs::rename(tmp, path);
  return path.string();
}

}  // namespace tachora::test
