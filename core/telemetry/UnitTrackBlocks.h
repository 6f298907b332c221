// Growing storage for parse records that never holds two copies of a
// whole array (internal to the telemetry library).
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

// Records are kept in blocks that grow from small (most files are a
// minute of recording) to 2 MiB; big blocks come straight from the system
// and go back to it when freed (a heap would keep the freed blocks while
// the final array is allocated beside them, doubling the peak).
template <typename T>
class TBlocks {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  TBlocks() = default;
  TBlocks(const TBlocks &) = delete;
  TBlocks &operator=(const TBlocks &) = delete;
  ~TBlocks() { Clear(); }

  void PushBack(const T &v) { new (Append()) T(v); }
  // Room for one more value, which the caller constructs there (in place:
  // no copy of a value built elsewhere).
  void *Append() {
    if (blocks_.empty() || blocks_.back().Used == blocks_.back().Capacity) Grow();
    TBlock &b = blocks_.back();
    ++size_;
    return b.Data + b.Used++;
  }
  size_t Size() const { return size_; }
  void Clear() {
    for (TBlock &b : blocks_) Free(b);
    std::vector<TBlock>().swap(blocks_);
    size_ = 0;
  }
  // Frees each block once copied: the peak is the array plus one block.
  void MoveTo(std::vector<T> &out) {
    out.clear();
    out.reserve(size_);
    AdviseHugePages(out.data(), size_ * sizeof(T));
    AppendTo(out);
  }
  // The same after what `out` holds, which must have room for the values.
  void AppendTo(std::vector<T> &out) {
    for (TBlock &b : blocks_) {
      out.insert(out.end(), b.Data, b.Data + b.Used);
      Free(b);
    }
    std::vector<TBlock>().swap(blocks_);
    size_ = 0;
  }

 private:
  struct TBlock {
    T *Data = nullptr;
    size_t Used = 0, Capacity = 0;
    bool Mapped = false;
  };
  static constexpr size_t kFirst = 256;
  static constexpr size_t kMaxBytes = 2u << 20;

  void Grow() {
    TBlock b;
    const size_t last = blocks_.empty() ? 0 : blocks_.back().Capacity;
    b.Capacity = std::max(kFirst, std::min(2 * last, kMaxBytes / sizeof(T)));
    const size_t bytes = b.Capacity * sizeof(T);
    if (bytes >= kMaxBytes / 2) {
      // Populated at once, as one huge page where the system has them: one
      // call instead of a page fault per page.
      void *p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      ::madvise(p, bytes, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
      ::madvise(p, bytes, MADV_POPULATE_WRITE);  // Linux 5.14 on; else faulted in as written
#endif
      b.Data = static_cast<T *>(p);
      b.Mapped = true;
    } else {
      b.Data = static_cast<T *>(::operator new(bytes));
    }
    blocks_.push_back(b);
  }
  static void Free(TBlock &b) {
    if (b.Mapped)
      ::munmap(b.Data, b.Capacity * sizeof(T));
    else
      ::operator delete(b.Data);
    b = TBlock();
  }

  std::vector<TBlock> blocks_;
  size_t size_ = 0;
};

}  // namespace tachora
