#include "catalogue/UnitCopyEngine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_set>

#include "app/UnitFileIO.h"
#include "app/UnitFileSystem.h"
#include "app/UnitLang.h"
#include "catalogue/UnitChannels.h"
#include "catalogue/UnitPlatform.h"

namespace tachora {

// A copy that waits to be read back: complete, with its source's times and
// mode, not yet named. Handed from the copy thread to the verifier.
struct TFormCopyThread::TPendingCopy {
  std::unique_ptr<TAtomicFile> Out;
  TSha256Digest Expected{};
  std::string Source;
  int64_t Size = 0;
};

namespace {

using TClock = std::chrono::steady_clock;

std::string SysError(int err) {
  return std::strerror(err);
}

class TFd {
 public:
  explicit TFd(int fd = -1) : fFd(fd) {}
  ~TFd() { Close(); }
  TFd(const TFd &) = delete;
  TFd &operator=(const TFd &) = delete;
  int Get() const { return fFd; }
  void Reset(int fd) {
    Close();
    fFd = fd;
  }
  int Close() {
    const int r = fFd >= 0 ? close(fFd) : 0;
    fFd = -1;
    return r;
  }

 private:
  int fFd;
};

// A small text file (the folder's SHA256SUMS); false when it cannot be read.
bool ReadWholeFile(const std::string &path, std::string &out) {
  TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > (64u << 20)) return false;  // not a list of sums
  }
}

}  // namespace

bool ForceDirectories(const std::string &folder, std::string *error) {
  if (folder.empty()) return true;
  std::string path;
  size_t pos = 0;
  while (pos <= folder.size()) {
    const size_t next = folder.find('/', pos);
    const size_t end = next == std::string::npos ? folder.size() : next;
    path = folder.substr(0, end);
    pos = end + 1;
    if (path.empty() || DirExists(path)) continue;
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      if (error) *error = path + ": " + SysError(errno);
      return false;
    }
  }
  if (!DirExists(folder)) {
    if (error) *error = folder + ": " + SysError(ENOTDIR);
    return false;
  }
  return true;
}

int64_t SmoothSpeed(int64_t old, int64_t measured) {
  if (old == 0) return measured;
  if (measured < old) return RoundHalfAway(0.2L * old + 0.8L * measured);
  return RoundHalfAway(0.5L * old + 0.5L * measured);
}

int CopyPercent(int64_t copied, int64_t total) {
  const int64_t p =
      RoundHalfAway(static_cast<long double>(copied) * 100.0L / std::max<int64_t>(1, total));
  return static_cast<int>(std::clamp<int64_t>(p, 0, 100));
}

std::string CopyFileLine(int index, int count, const std::string &source) {
  return std::to_string(index + 1) + " / " + std::to_string(count) + "  -  " + source;
}

std::string CopySizeLine(int64_t copied, int64_t total) {
  const std::string mb = LangText("Mb");
  return std::to_string(CopyPercent(copied, total)) + "%  -  " +
         std::to_string(std::max<int64_t>(0, copied) / 1024 / 1024) + " " + mb + " / " +
         std::to_string(std::max<int64_t>(0, total) / 1024 / 1024) + " " + mb;
}

std::string CopySpeedLine(int64_t speed) {
  if (speed < 1) return {};
  return FormatFixed(static_cast<long double>(speed) / 1048576.0L, 1) + " " + LangText("Mbytepsec");
}

std::string CopyRemainingLine(int64_t copied, int64_t total, int64_t speed) {
  if (speed < 1) return {};
  const int64_t seconds = std::max<int64_t>(0, total - copied) / speed;
  return FormatTime(static_cast<double>(seconds) / kSecPerDay);
}

TFormCopyThread::TFormCopyThread(const TFileItem &row, const std::string &targetFolder,
                                 TCopyCallbacks callbacks, bool start)
    : fTarget(IncludeTrailingSlash(targetFolder)), fCallbacks(std::move(callbacks)) {
  // A GPS log shared by several recordings of a trip is copied once. The
  // set keeps that check cheap: searching the list itself cost a trip of
  // 2,000 recordings 8 million path comparisons before the first byte moved.
  std::unordered_set<std::string> seen;
  auto add = [&](const std::string &path, int64_t knownSize) {
    if (path.empty() || !seen.insert(path).second) return;
    fSources.push_back(path);
    int64_t size = knownSize;
    if (size < 0) {
      TFileStat st;
      size = StatFile(path, st) ? st.Size : 0;
    }
    fTotal += std::max<int64_t>(0, size);
  };
  for (const auto &rec : row.Items) {
    add(rec.Path, rec.Size);
    for (const auto &ch : rec.Channels) add(ch.Path, ch.Size);
    add(rec.TelemetryPath, -1);
  }
  if (start) Start();
}

TFormCopyThread::~TFormCopyThread() {
  Terminate();
  WaitFor();
}

void TFormCopyThread::Start() {
  if (!fThread.joinable() && !fFinished.load()) fThread = std::thread([this] { Execute(); });
}

void TFormCopyThread::WaitFor() {
  if (fThread.joinable() && fThread.get_id() != std::this_thread::get_id()) fThread.join();
}

TCopyProgress TFormCopyThread::Progress() const {
  TCopyProgress p;
  p.CurrentIndex = fIndex.load();
  p.FileCount = static_cast<int>(fSources.size());
  p.CopiedBytes = fCopied.load();
  p.TotalBytes = fTotal;
  p.Speed = fSpeed.load();
  p.Verifying = fVerifying.load();
  p.Finished = fFinished.load();
  std::lock_guard lock(fMutex);
  p.CurrentSource = fSource;
  p.CurrentDestination = fDestination;
  return p;
}

void TFormCopyThread::SetCurrent(const std::string &source, const std::string &destination) {
  std::lock_guard lock(fMutex);
  fSource = source;
  fDestination = destination;
}

void TFormCopyThread::Fail(const std::string &message) {
  ++fErrors;
  if (fCallbacks.ShowError) fCallbacks.ShowError(message);
}

void TFormCopyThread::Execute() {
  fBuffer.resize(kBufferSize);
  std::string error;
  if (!ForceDirectories(fTarget.size() > 1 ? fTarget.substr(0, fTarget.size() - 1) : fTarget,
                        &error)) {
    Fail(error);
  } else {
    for (size_t i = 0; i < fSources.size() && !fTerminated.load(); ++i) {
      fIndex = static_cast<int>(i);
      CopyOne(i);
    }
  }
  // The copies still being read back: the window says so meanwhile.
  fVerifying = true;
  {
    std::lock_guard lock(fQueueMutex);
    fCopyingDone = true;
  }
  fQueueChanged.notify_all();
  if (fVerifier.joinable()) fVerifier.join();
  fVerifying = false;
  if (!fSums.empty() || !fUnverified.empty()) WriteSums();
  // One flush of the target's file system for the whole job: a sync per
  // file costs a disk round trip each (a card of 2,000 recordings copied
  // 80 times slower than cp), while the ".part" names already keep a copy
  // that a crash cut short from looking complete. The copy is reported
  // finished only once its data is on the disk.
  if (fCopiedFiles.load() > 0) {
    TFd dir(open(fTarget.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0 && syncfs(dir.Get()) != 0) Fail(fTarget + ": " + SysError(errno));
  }
  fIndex = static_cast<int>(fSources.size());
  {
    std::lock_guard lock(fDoneMutex);
    fFinished = true;
  }
  fDone.notify_all();
}

bool TFormCopyThread::WaitFinished(int timeoutMs) {
  std::unique_lock lock(fDoneMutex);
  return fDone.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                        [this] { return fFinished.load(); });
}

void TFormCopyThread::CopyOne(size_t index) {
  const std::string &source = fSources[index];
  // A camera's folder (Front/, Rear/) is kept below the target: the files
  // in them share their names.
  const auto marker = ChannelOfPath(source);
  const std::string sub = marker && !marker->Folder.empty() ? marker->Folder + "/" : std::string();
  const std::string dest = fTarget + sub + ExtractFileName(source);
  SetCurrent(source, dest);
  if (!sub.empty()) {
    std::string error;
    if (!ForceDirectories(fTarget + sub, &error)) {
      Fail(error);
      return;
    }
  }

  TFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat ss {};
  if (in.Get() < 0 || fstat(in.Get(), &ss) != 0) {
    Fail(source + ": " + SysError(errno));
    return;
  }
  struct stat ds {};
  if (stat(dest.c_str(), &ds) == 0) {
    // The target folder is the source folder: the file is already there,
    // and opening it for writing would destroy the source.
    if (ds.st_dev == ss.st_dev && ds.st_ino == ss.st_ino) {
      fCopied += ss.st_size;
      return;
    }
    if (!fCallbacks.AskOverwrite || !fCallbacks.AskOverwrite(dest)) return;
    if (fTerminated.load()) return;
  }

  // The data goes into a file without a name that receives the
  // destination's name only when complete (a hidden temporary name on file
  // systems without unnamed files): nothing half-written is ever visible
  // under the destination's name, not even after a crash.
  auto out = std::make_unique<TAtomicFile>(dest);
  if (!fUseUnnamed) out->PreferNamedTemp();
  std::string error;
  if (!out->Open(&error)) {
    Fail(error);
    return;
  }
  // Doubles the read-ahead: what a card reader needs to stream at its speed.
  posix_fadvise(in.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  std::unique_ptr<TSha256> hash;
  if (fVerify.load()) hash = std::make_unique<TSha256>();
  const bool complete = CopyData(in.Get(), out->Fd(), ss.st_size, ss.st_dev, hash.get(), error);
  if (!error.empty()) error = source + ": " + error;
  bool ok = complete && error.empty();
  if (ok) {
    struct stat ts {};
    if (fstat(out->Fd(), &ts) != 0) {
      error = dest + ": " + SysError(errno);
      ok = false;
    } else if (ts.st_size != ss.st_size) {
      error = dest + ": the copy has " + std::to_string(ts.st_size) + " bytes, the original " +
              std::to_string(ss.st_size);
      ok = false;
    }
  }
  if (ok) {
    // Times and permission bits (the lock) of the source; a failure to set
    // the times does not spoil the copy.
    const timespec times[2] = {ss.st_atim, ss.st_mtim};
    futimens(out->Fd(), times);
    out->SetMode(ss.st_mode & 07777);
  }
  if (ok && hash) {
    // Read back and named by the verifier while the next file is copied.
    auto item = std::make_unique<TPendingCopy>();
    item->Out = std::move(out);
    item->Expected = hash->Final();
    item->Source = source;
    item->Size = ss.st_size;
    QueueForReadBack(std::move(item));
    return;
  }
  // Onto a card each copy is on it before it takes its name: the user pulls
  // the card as soon as the window says the copy is done. (The verified
  // copies above were flushed before they were read back.)
  if (ok) ok = out->Commit(TAtomicFile::TSync::Removable, &error);
  if (!ok) {
    out->Discard();
    if (!error.empty()) Fail(error);  // a stop by the user is no error
    return;
  }
  ++fCopiedFiles;
  fUnverified.insert(dest.substr(fTarget.size()));
}

int64_t TFormCopyThread::QueuedBytes() const {
  int64_t bytes = 0;
  for (const auto &item : fQueue) bytes += item->Size;
  return bytes;
}

void TFormCopyThread::QueueForReadBack(std::unique_ptr<TPendingCopy> item) {
  std::unique_lock lock(fQueueMutex);
  if (!fVerifier.joinable()) fVerifier = std::thread([this] { VerifyLoop(); });
  // Few files wait at a time: each holds an open file (and its pages).
  while (fQueue.size() >= kMaxPending && !fTerminated.load())
    fQueueChanged.wait_for(lock, std::chrono::milliseconds(10));
  fQueue.push_back(std::move(item));
  fQueueChanged.notify_all();
}

// The verifier: takes every copy waiting, flushes them with one sync of the
// file system (a flush per file costs a disk round trip each: hundreds of
// short recordings took 2.5 times as long as cp, sync and sha256sum), then
// reads each back and gives it its name when it matches.
void TFormCopyThread::VerifyLoop() {
  std::vector<char> buffer(kBufferSize);
  for (;;) {
    std::deque<std::unique_ptr<TPendingCopy>> batch;
    {
      std::unique_lock lock(fQueueMutex);
      fQueueChanged.wait(lock, [this] { return !fQueue.empty() || fCopyingDone; });
      // Short files are gathered for a while so that one sync serves many;
      // a long one fills the batch alone.
      const auto until = TClock::now() + std::chrono::milliseconds(kGatherMs);
      fQueueChanged.wait_until(lock, until, [this] {
        return fCopyingDone || fQueue.size() >= kMaxPending / 2 || QueuedBytes() >= kGatherBytes;
      });
      if (fQueue.empty()) return;
      batch.swap(fQueue);
    }
    fQueueChanged.notify_all();
    if (fCallbacks.BeforeReadBack)
      for (auto &item : batch) fCallbacks.BeforeReadBack(item->Out->Fd());
    syncfs(batch.front()->Out->Fd());
    for (auto &item : batch) {
      std::string error;
      if (fVerifying.load()) SetCurrent(item->Source, item->Out->Path());
      bool ok = !fTerminated.load() && ReadBackMatches(*item, buffer, error);
      if (ok) ok = item->Out->Commit(TAtomicFile::TSync::None, &error);
      if (!ok) {
        item->Out->Discard();
        if (!error.empty()) Fail(error);
        continue;
      }
      ++fCopiedFiles;
      ++fVerifiedFiles;
      fSums[item->Out->Path().substr(fTarget.size())] = DigestHex(item->Expected);
    }
  }
}

// Drops the flushed copy from the page cache and hashes what the disk
// gives back. False with `error` set when it differs or cannot be read;
// false with `error` empty when stopped.
bool TFormCopyThread::ReadBackMatches(TPendingCopy &item, std::vector<char> &buffer,
                                      std::string &error) {
  TAtomicFile &out = *item.Out;
  const std::string dest = out.Path();
  // An unnamed file is reached through the descriptor's link in /proc.
  const std::string readPath =
      out.TempPath().empty() ? "/proc/self/fd/" + std::to_string(out.Fd()) : out.TempPath();
  // The batch's sync has written the data and flushed the disk's cache;
  // this only makes sure no page is left dirty (the kernel keeps dirty pages
  // in memory, and the reads below would not reach the disk). fdatasync
  // here would flush the disk's cache once more for every file, 3 ms each.
  if (sync_file_range(
          out.Fd(), 0, 0,
          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0 &&
      fdatasync(out.Fd()) != 0) {
    error = dest + ": " + SysError(errno);
    return false;
  }
  TFd back(open(readPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (back.Get() < 0) {
    error = dest + ": " + SysError(errno);
    return false;
  }
  // The pages are clean after the flush, so the kernel lets them go and the
  // reads below come from the disk.
  posix_fadvise(back.Get(), 0, 0, POSIX_FADV_DONTNEED);
  posix_fadvise(back.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  TSha256 hash;
  for (;;) {
    if (fTerminated.load()) return false;
    const ssize_t n = read(back.Get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = dest + ": " + SysError(errno);
      return false;
    }
    if (n == 0) break;
    hash.Update(buffer.data(), static_cast<size_t>(n));
    WaitWhilePaused();
  }
  // What was read back need not stay in memory either.
  posix_fadvise(back.Get(), 0, 0, POSIX_FADV_DONTNEED);
  if (hash.Final() != item.Expected) {
    error = LangText("Mes_CopyVerifyFailed") + "\n" + dest;
    return false;
  }
  return true;
}

void TFormCopyThread::WaitWhilePaused() {
  while (fPaused.load() && !fTerminated.load())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Merges the verified copies' digests into the target's SHA256SUMS: lines
// of other files (an earlier copy into the same folder) are kept, lines of
// files this job replaced without verifying them are dropped.
void TFormCopyThread::WriteSums() {
  const std::string path = fTarget + kSumsName;
  std::map<std::string, std::string> sums;
  std::string old, error;
  const bool existed = ReadWholeFile(path, old);
  if (existed) sums = ParseSha256Sums(old);
  // A file replaced without verification: its old line would now fail.
  size_t stale = 0;
  for (const auto &name : fUnverified) stale += sums.erase(name);
  if (fSums.empty() && stale == 0) return;
  for (const auto &[name, hex] : fSums) sums[name] = hex;
  if (!WriteFileAtomic(path, FormatSha256Sums(sums), &error)) Fail(error);
}

// Copies `size` bytes; false when stopped. Errors (and a source that ends
// early) set `error`.
bool TFormCopyThread::CopyData(int in, int out, int64_t size, dev_t sourceDevice, TSha256 *hash,
                               std::string &error) {
  int64_t written = 0;
  auto t0 = TClock::now();
  int64_t sinceT0 = 0;
  bool kernelCopy = !hash && (!fHavePlainCopyDevice || sourceDevice != fPlainCopyDevice);
  while (written < size) {
    if (fTerminated.load()) return false;
    const size_t want = static_cast<size_t>(
        std::min<int64_t>(kernelCopy ? kKernelChunk : kBufferSize, size - written));
    ssize_t n = -1;
    if (kernelCopy) {
      n = copy_file_range(in, nullptr, out, nullptr, want, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                    errno == EPERM)) {
        kernelCopy = false;
        fPlainCopyDevice = sourceDevice;
        fHavePlainCopyDevice = true;
        continue;
      }
    } else {
      n = read(in, fBuffer.data(), want);
      if (n > 0 && hash) hash->Update(fBuffer.data(), static_cast<size_t>(n));
      if (n > 0) {
        ssize_t done = 0;
        while (done < n) {
          const ssize_t w = write(out, fBuffer.data() + done, static_cast<size_t>(n - done));
          if (w < 0 && errno == EINTR) continue;
          if (w <= 0) {
            error = SysError(w < 0 ? errno : ENOSPC);
            return true;
          }
          done += w;
        }
      }
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      error = SysError(errno);
      return true;
    }
    if (n == 0) {
      error = "the source ended after " + std::to_string(written) + " of " + std::to_string(size) +
              " bytes";
      return true;
    }
    written += n;
    fCopied += n;
    sinceT0 += n;
    const auto now = TClock::now();
    const double seconds = std::chrono::duration<double>(now - t0).count();
    if (seconds > 4) {
      fSpeed = SmoothSpeed(fSpeed.load(), RoundHalfAway(sinceT0 / seconds));
      t0 = now;
      sinceT0 = 0;
    }
    WaitWhilePaused();
  }
  return true;
}

}  // namespace tachora
