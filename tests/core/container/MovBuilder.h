// Hand-made QuickTime atoms for reader and writer tests: big-endian numbers
// and nested atoms whose sizes are patched when they are closed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tachora::test {

class TMovBuilder {
 public:
  std::vector<uint8_t> bytes;

  TMovBuilder &U8(uint8_t v) {
    bytes.push_back(v);
    return *this;
  }
  TMovBuilder &U16(uint16_t v) { return U8(uint8_t(v >> 8)).U8(uint8_t(v)); }
  TMovBuilder &U32(uint32_t v) { return U16(uint16_t(v >> 16)).U16(uint16_t(v)); }
  TMovBuilder &U64(uint64_t v) { return U32(uint32_t(v >> 32)).U32(uint32_t(v)); }
  TMovBuilder &Str(const std::string &s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  TMovBuilder &Zeros(size_t n) {
    bytes.insert(bytes.end(), n, 0);
    return *this;
  }
  // Opens an atom; Close patches its 32-bit size.
  TMovBuilder &Open(const std::string &type) {
    open_.push_back(bytes.size());
    return U32(0).Str(type);
  }
  TMovBuilder &Close() {
    size_t at = open_.back();
    open_.pop_back();
    uint32_t size = static_cast<uint32_t>(bytes.size() - at);
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(size >> (24 - 8 * i));
    return *this;
  }
  TMovBuilder &Ftyp() { return Open("ftyp").Str("qt  ").U32(0).Str("qt  ").U32(0).Close(); }
  TMovBuilder &Mvhd(uint32_t scale, uint32_t duration, uint32_t created = 0) {
    Open("mvhd").U32(0).U32(created).U32(created).U32(scale).U32(duration);
    return Zeros(80).Close();
  }
  TMovBuilder &Tkhd(uint32_t id, uint32_t duration, uint32_t w, uint32_t h, uint32_t created = 0) {
    Open("tkhd").U32(0).U32(created).U32(created).U32(id).U32(0).U32(duration);
    Zeros(52);
    return U32(w << 16).U32(h << 16).Close();
  }
  TMovBuilder &TkhdV1(uint32_t id, uint64_t duration, uint32_t w, uint32_t h) {
    Open("tkhd").U32(0x01000000).U64(1000).U64(1000).U32(id).U32(0).U64(duration);
    Zeros(52);
    return U32(w << 16).U32(h << 16).Close();
  }
  TMovBuilder &MvhdV1(uint32_t scale, uint64_t duration, uint64_t created = 0) {
    Open("mvhd").U32(0x01000000).U64(created).U64(created).U32(scale).U64(duration);
    return Zeros(80).Close();
  }
  TMovBuilder &MdhdV1(uint32_t scale, uint64_t duration) {
    return Open("mdhd").U32(0x01000000).U64(0).U64(0).U32(scale).U64(duration).U32(0).Close();
  }
  TMovBuilder &Mdhd(uint32_t scale, uint32_t duration) {
    return Open("mdhd").U32(0).U32(0).U32(0).U32(scale).U32(duration).U32(0).Close();
  }
  TMovBuilder &Stsd(const std::string &format) {
    Open("stsd").U32(0).U32(1);
    return Open(format).Zeros(8).Close().Close();
  }
  TMovBuilder &Stts(const std::vector<std::pair<uint32_t, uint32_t>> &runs) {
    Open("stts").U32(0).U32(uint32_t(runs.size()));
    for (auto [c, d] : runs) U32(c).U32(d);
    return Close();
  }
  // (first chunk 1-based, samples per chunk)
  TMovBuilder &Stsc(const std::vector<std::pair<uint32_t, uint32_t>> &runs) {
    Open("stsc").U32(0).U32(uint32_t(runs.size()));
    for (auto [c, n] : runs) U32(c).U32(n).U32(1);
    return Close();
  }
  TMovBuilder &StszConst(uint32_t size, uint32_t count) {
    return Open("stsz").U32(0).U32(size).U32(count).Close();
  }
  TMovBuilder &Stsz(const std::vector<uint32_t> &sizes) {
    Open("stsz").U32(0).U32(0).U32(uint32_t(sizes.size()));
    for (uint32_t s : sizes) U32(s);
    return Close();
  }
  TMovBuilder &Stco(const std::vector<uint32_t> &offsets) {
    Open("stco").U32(0).U32(uint32_t(offsets.size()));
    for (uint32_t o : offsets) U32(o);
    return Close();
  }
  TMovBuilder &Stss(const std::vector<uint32_t> &numbers) {  // 1-based
    Open("stss").U32(0).U32(uint32_t(numbers.size()));
    for (uint32_t n : numbers) U32(n);
    return Close();
  }

 private:
  std::vector<size_t> open_;
};

}  // namespace tachora::test
