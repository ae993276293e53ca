#include "quicktime/Common/Component/ORXDataLoading.h"

#include <cstdlib>
#include <cstring>

namespace {

// Makes room for at least need bytes, keeping the first keep; grows by
// doubling so that a frame gathered in many pieces is copied a few times at
// most, and never beyond the frame's size.
bool Reserve(ORXDecodeScratch* buffer, int64_t need, int64_t keep, int64_t limit) {
  if (buffer->size >= need) return true;
  int64_t size = buffer->size > 0 ? buffer->size : int64_t{codecMinimumDataSize};
  while (size < need) size *= 2;
  if (size > limit) size = limit;
  auto* grown = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
  if (grown == nullptr) return false;
  if (keep > 0) std::memcpy(grown, buffer->data, static_cast<size_t>(keep));
  std::free(buffer->data);
  buffer->data = grown;
  buffer->size = size;
  return true;
}

}  // namespace

ComponentResult ORXReadFrameHeader(const ICMDataProcRecord* proc, Ptr* at, int64_t* loaded, ORXHeader* header,
                                   int64_t* storedSize) {
  if (*at == nullptr) *loaded = 0;
  if (*loaded < kORXHeaderSize) {
    if (proc == nullptr || proc->dataProc == nullptr) return codecBadDataErr;
    const OSErr err = proc->dataProc(at, kORXHeaderSize, proc->dataRefCon);
    if (err != noErr) return err;
    if (*at == nullptr) return codecBadDataErr;
    *loaded = kORXHeaderSize;
  }
  const ORXHeader h = ReadORXHeader(reinterpret_cast<const uint8_t*>(*at));
  if (h.headerSize < static_cast<uint32_t>(kORXHeaderSize) || h.dataSize < 0 || h.secondSize < 0)
    return codecBadDataErr;
  *header = h;
  *storedSize = int64_t{h.headerSize} + h.dataSize + h.secondSize;
  return noErr;
}

ComponentResult ORXLoadFrameThroughDataProc(const ICMDataProcRecord& proc, const unsigned char* first,
                                            SInt32 firstBytes, ORXDecodeScratch* buffer,
                                            const unsigned char** frame, int64_t* frameSize) {
  Ptr at = reinterpret_cast<Ptr>(const_cast<unsigned char*>(first));
  int64_t loaded = firstBytes > 0 ? firstBytes : 0;
  ORXHeader h;
  int64_t stored = 0;
  if (const ComponentResult err = ORXReadFrameHeader(&proc, &at, &loaded, &h, &stored); err != noErr) return err;
  // The sections this platform reads; the rest of the sample is not needed.
  const int64_t total = ORXPlatformReadsSecondSection() ? stored : stored - h.secondSize;
  if (total > INT32_MAX) return codecBadDataErr;
  if (total <= loaded) {
    *frame = reinterpret_cast<const unsigned char*>(at);
    *frameSize = total;
    return noErr;
  }
  if (!Reserve(buffer, loaded, 0, total)) return memFullErr;
  std::memcpy(buffer->data, at, static_cast<size_t>(loaded));
  int64_t done = loaded;
  at += loaded;
  while (done < total) {
    const int64_t rest = total - done;
    const int64_t window = codecMinimumDataSize;
    const SInt32 piece = static_cast<SInt32>(rest < window ? rest : window);
    const OSErr err = proc.dataProc(&at, piece, proc.dataRefCon);
    if (err != noErr) return err;
    if (at == nullptr) return codecBadDataErr;
    if (!Reserve(buffer, done + piece, done, total)) return memFullErr;
    std::memcpy(buffer->data + done, at, static_cast<size_t>(piece));
    done += piece;
    at += piece;
  }
  *frame = buffer->data;
  *frameSize = total;
  return noErr;
}
