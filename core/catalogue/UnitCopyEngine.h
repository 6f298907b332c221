// Copying a catalogue row off the card: every recording of the row with its
// telemetry file (video 1, telemetry 1, video 2, ...) into a target folder,
// on a worker thread, with counters that a progress window polls, a pause
// flag, a stop, and callbacks for the overwrite question and for errors.
//
// Each file is written through TAtomicFile (app/UnitFileIO.h): an unnamed
// file, or a hidden temporary name on file systems without them, that takes
// the destination's name only when complete and of the source's size, so a
// stopped or failed copy never leaves a destination that looks whole;
// the target's file system is flushed once when the job ends (not per file,
// which made many small files ~80x slower than cp), except on a card or USB
// stick, where each file is flushed before it takes its name; stale hidden
// temporaries of an interrupted copy are removed from the target folder; the copy takes the
// source's access and modification times and its permission bits (a locked recording stays locked).
// A destination that is the source itself is skipped.
//
// With verification on (SetVerify), the source is hashed (SHA-256) as it is
// read, the copy is flushed to the disk, dropped from the page cache and
// read back on a second thread while the next file is copied (copies that
// wait are flushed together), and its hash compared with the source's before
// it takes the destination's name: a copy that differs is an error and is removed, and
// whatever had the name before stays. At the end of the job the digests of
// the verified copies go into "SHA256SUMS" in the target folder (merged
// with the lines already there), which `sha256sum -c` checks.
//
// Units: bytes, bytes per second. Threads: the engine owns its thread (and
// the verifier's). The
// callbacks run on the copy thread, which waits for their answer (a GUI
// marshals them to its UI thread). Counters may be read from any thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/UnitSha256.h"
#include "catalogue/UnitFileItems.h"

namespace tachora {

class TAtomicFile;

struct TCopyCallbacks {
  // The destination exists: replace it? Without a callback the answer is no.
  std::function<bool(const std::string &destination)> AskOverwrite;
  // A file could not be copied; the copy goes on with the next file.
  std::function<void(const std::string &message)> ShowError;
  // Verification only, on the verifier thread: the copy is complete and
  // about to be flushed and read back; `fd` is open for writing on it. For
  // tests that stand in for a disk that changes what it was given.
  std::function<void(int fd)> BeforeReadBack;
};

struct TCopyProgress {
  int CurrentIndex = 0;  // equals FileCount once everything is done
  int FileCount = 0;
  int64_t CopiedBytes = 0, TotalBytes = 0;
  int64_t Speed = 0;  // bytes per second, smoothed; 0 before the first sample
  std::string CurrentSource, CurrentDestination;
  bool Verifying = false;  // the current copy is being read back
  bool Finished = false;
};

class TFormCopyThread {
 public:
  // Copies between file systems (a card onto the disk) go through a buffer
  // small enough to stay in the processor's cache between read and write
  // (1 MiB measured ~4% slower); within one file system the kernel copies
  // in steps of kKernelChunk, so a pause or stop is noticed within one.
  static constexpr size_t kBufferSize = 256 << 10;
  static constexpr size_t kKernelChunk = 1 << 20;

  // Builds the source list and the total, and starts the thread unless
  // `start` is false (tests inspect the list first).
  TFormCopyThread(const TFileItem &row, const std::string &targetFolder, TCopyCallbacks callbacks,
                  bool start = true);
  ~TFormCopyThread();  // stops and waits
  TFormCopyThread(const TFormCopyThread &) = delete;
  TFormCopyThread &operator=(const TFormCopyThread &) = delete;

  void Start();
  // Off: always write a hidden temporary name and rename it (what file
  // systems without unnamed files get; tests cover both ways). Before
  // Start only.
  void SetUseUnnamedFiles(bool use) { fUseUnnamed = use; }
  // Verification of the files not started yet (see above); off by default.
  void SetVerify(bool verify) { fVerify = verify; }
  bool Verify() const { return fVerify.load(); }
  void Terminate() { fTerminated = true; }
  bool Terminated() const { return fTerminated.load(); }
  void SetPaused(bool paused) { fPaused = paused; }
  bool Paused() const { return fPaused.load(); }
  void WaitFor();
  // Waits until the job has finished or `timeoutMs` has passed; true when
  // finished. A progress display that refreshes on a timer can wait here
  // instead of sleeping, so the end of a job is seen at once rather than up
  // to a tick later (a tick per row of a copy of many short rows).
  bool WaitFinished(int timeoutMs);

  TCopyProgress Progress() const;
  bool Finished() const { return fFinished.load(); }
  const std::vector<std::string> &Sources() const { return fSources; }
  const std::string &TargetFolder() const { return fTarget; }
  int64_t TotalBytes() const { return fTotal; }
  int ErrorCount() const { return fErrors.load(); }
  int CopiedFiles() const { return fCopiedFiles.load(); }
  int VerifiedFiles() const { return fVerifiedFiles.load(); }
  static constexpr const char *kSumsName = "SHA256SUMS";

 private:
  void Execute();
  void CopyOne(size_t index);
  // `hash`: the data read goes through it (and through read and write,
  // never the kernel's copy, which the process does not see).
  bool CopyData(int in, int out, int64_t size, dev_t sourceDevice, TSha256 *hash,
                std::string &error);
  struct TPendingCopy;
  void QueueForReadBack(std::unique_ptr<TPendingCopy> item);
  void VerifyLoop();
  bool ReadBackMatches(TPendingCopy &item, std::vector<char> &buffer, std::string &error);
  void WriteSums();
  void WaitWhilePaused();
  void Fail(const std::string &message);
  void SetCurrent(const std::string &source, const std::string &destination);

  std::vector<std::string> fSources;
  std::string fTarget;
  int64_t fTotal = 0;
  TCopyCallbacks fCallbacks;
  std::vector<char> fBuffer;
  bool fUseUnnamed = true;
  // The source's file system whose copies the kernel refused (a card onto
  // another file system): its later files go straight to read and write.
  dev_t fPlainCopyDevice = 0;
  bool fHavePlainCopyDevice = false;

  std::atomic<int64_t> fCopied{0};
  std::atomic<int64_t> fSpeed{0};
  std::atomic<int> fIndex{0};
  std::atomic<int> fErrors{0};
  std::atomic<int> fCopiedFiles{0};
  std::atomic<int> fVerifiedFiles{0};
  std::atomic<bool> fVerify{false}, fVerifying{false};
  std::map<std::string, std::string> fSums;  // verifier: name -> digest of verified copies
  std::set<std::string> fUnverified;         // copy thread: names copied without verifying
  // Copies waiting for the verifier thread (at most kMaxPending).
  static constexpr size_t kMaxPending = 128;
  static constexpr int kGatherMs = 250;
  static constexpr int64_t kGatherBytes = 64 << 20;
  int64_t QueuedBytes() const;  // under fQueueMutex
  std::mutex fQueueMutex;
  std::condition_variable fQueueChanged;
  std::deque<std::unique_ptr<TPendingCopy>> fQueue;
  bool fCopyingDone = false;
  std::thread fVerifier;
  std::atomic<bool> fPaused{false}, fTerminated{false}, fFinished{false};
  std::mutex fDoneMutex;  // with fDone, wakes WaitFinished
  std::condition_variable fDone;
  mutable std::mutex fMutex;  // current paths
  std::string fSource, fDestination;
  std::thread fThread;
};

// Speed smoothing: a falling speed follows fast (0.2 old + 0.8 new), a
// rising one slowly (0.5 / 0.5); the first measurement is taken as it is.
int64_t SmoothSpeed(int64_t old, int64_t measured);

// Texts of the progress window (sizes in whole mebibytes).
int CopyPercent(int64_t copied, int64_t total);
std::string CopyFileLine(int index, int count, const std::string &source);
std::string CopySizeLine(int64_t copied, int64_t total);  // "45%  -  120 Mb / 270 Mb"
std::string CopySpeedLine(int64_t speed);                 // "3.1 Mbyte/sec"; empty below 1
std::string CopyRemainingLine(int64_t copied, int64_t total, int64_t speed);  // "00:01:05"

// Creates a folder with all missing parents; false with `error` set on failure.
bool ForceDirectories(const std::string &folder, std::string *error = nullptr);

}  // namespace tachora
