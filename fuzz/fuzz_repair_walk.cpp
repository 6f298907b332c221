// The walker of broken media data (recording repair) over arbitrary bytes:
// it must end, stay inside the data and never take more bytes than it has.
// The first byte picks the picture codec and the sound format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "container/UnitMOV.h"
#include "container/UnitRepair.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  TRepairProfile p;
  p.picture = mode & 1 ? TRepairProfile::TPicture::H265 : TRepairProfile::TPicture::H264;
  p.nalLengthSize = mode & 2 ? 2 : 4;
  p.log2MaxFrameNum = 4 + (mode >> 4);
  p.frameMbsOnly = !(mode & 4);
  p.maxVideoSample = 1 << 16;
  p.sound = TRepairProfile::TSound::Pcm;
  p.channels = mode & 8 ? 2 : 1;
  p.pcmSampleSize = 2 * p.channels;
  p.pcmFrameBytes = p.pcmSampleSize;
  p.pcmChunkBytes = {2048, 4096, 1000};
  p.blockTypes = {FourCC("GPS ")};
  auto stream = TMOVStream::FromMemory(data + 1, size - 1);
  TMdatWalker walker(p, *stream, 0, int64_t(size - 1));
  TRepairItem item;
  int64_t last = 0;
  while (walker.Next(item)) {
    if (item.pos != last || item.size <= 0 || item.pos + item.size > int64_t(size - 1)) abort();
    if (!walker.Bytes(item.pos, item.kind == TRepairItem::TKind::Block ? 0 : item.size)) abort();
    last = item.pos + item.size;
  }
  return 0;
}
