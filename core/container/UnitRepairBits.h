// Exp-Golomb reading of H.264/H.265 headers for the repair: the bytes of a
// parameter set or slice header with their emulation-prevention bytes
// (00 00 03) taken out, read bit by bit. Reading past the end gives zeros
// and leaves Ok() false, so a damaged header cannot run away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tachora {

class TRbsp {
 public:
  TRbsp(const uint8_t *p, size_t n) {
    fBuf.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      if (i >= 2 && p[i] == 3 && p[i - 1] == 0 && p[i - 2] == 0) continue;
      fBuf.push_back(p[i]);
    }
  }
  bool Ok() const { return fPos <= fBuf.size() * 8; }
  uint32_t Bit() {
    if (fPos >= fBuf.size() * 8) {
      ++fPos;
      return 0;
    }
    const uint32_t b = (fBuf[fPos / 8] >> (7 - fPos % 8)) & 1;
    ++fPos;
    return b;
  }
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | Bit();
    return v;
  }
  uint32_t Ue() {
    int zeros = 0;
    while (Bit() == 0) {
      if (++zeros > 31 || !Ok()) {
        fPos = fBuf.size() * 8 + 1;
        return 0;
      }
    }
    return zeros == 0 ? 0 : ((1u << zeros) - 1 + Bits(zeros));
  }
  int32_t Se() {
    const uint32_t v = Ue();
    return (v & 1) ? int32_t((v + 1) / 2) : -int32_t(v / 2);
  }

 private:
  std::vector<uint8_t> fBuf;
  size_t fPos = 0;
};

}  // namespace tachora
