#include "quicktime/host/src/MovieFileAdapters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "MacMemory.h"
#include "MovieFile.h"

namespace {

constexpr Size kFixedBytes = 86;  // the stored image description without extensions

}  // namespace

OSStatus HostMovieStatus(orxmovie::Status status) {
  using orxmovie::Status;
  switch (status) {
    case Status::ok: return noErr;
    case Status::badArgument: return paramErr;
    case Status::outOfMemory: return memFullErr;
    case Status::ioError: return ioErr;
    case Status::endOfFile: return eofErr;
    case Status::fileNotFound: return fnfErr;
    case Status::noPermission: return permErr;
    case Status::readOnly: return wrPermErr;
    case Status::diskFull: return dskFulErr;
    case Status::fileExists: return dupFNErr;
    case Status::badDescription: return badImageDescription;
    case Status::invalidTrack: return invalidTrack;
    case Status::invalidMovie: return invalidMovie;
    case Status::invalidSampleTable: return invalidSampleTable;
    case Status::noMovie: return noMovieFound;
  }
  return ioErr;
}

ImageDescriptionHandle HostMovieNewImageDescription(const orxmovie::ImageFacts& f) {
  Handle h = NewHandleClear(kFixedBytes + Size(f.extensions.size()));
  if (h == nullptr) return nullptr;
  auto desc = reinterpret_cast<ImageDescriptionHandle>(h);
  ImageDescription& d = **desc;
  d.idSize = SInt32(kFixedBytes + Size(f.extensions.size()));
  d.cType = f.codecType;
  d.dataRefIndex = f.dataRefIndex;
  d.version = f.version;
  d.revisionLevel = f.revisionLevel;
  d.vendor = f.vendor;
  d.temporalQuality = f.temporalQuality;
  d.spatialQuality = f.spatialQuality;
  d.width = f.width;
  d.height = f.height;
  d.hRes = f.hRes;
  d.vRes = f.vRes;
  d.dataSize = f.dataSize;
  d.frameCount = f.frameCount;
  std::memcpy(d.name, f.name, sizeof d.name);
  d.depth = f.depth;
  d.clutID = f.clutID;
  if (!f.extensions.empty()) std::memcpy(*h + kFixedBytes, f.extensions.data(), f.extensions.size());
  return desc;
}

bool HostMovieImageFacts(ImageDescriptionHandle desc, orxmovie::ImageFacts* f, std::string* message) {
  char words[160];
  const Size handleSize = GetHandleSize(reinterpret_cast<Handle>(desc));
  if (handleSize < kFixedBytes) {
    std::snprintf(words, sizeof words, "the image description holds %d bytes, fewer than %u", int(handleSize),
                  unsigned(kFixedBytes));
    *message = words;
    return false;
  }
  const ImageDescription& d = **desc;
  if (d.idSize > handleSize) {
    std::snprintf(words, sizeof words, "the image description claims %d bytes but holds %d", int(d.idSize), int(handleSize));
    *message = words;
    return false;
  }
  f->codecType = d.cType;
  f->dataRefIndex = d.dataRefIndex;
  f->version = d.version;
  f->revisionLevel = d.revisionLevel;
  f->vendor = d.vendor;
  f->temporalQuality = d.temporalQuality;
  f->spatialQuality = d.spatialQuality;
  f->width = d.width;
  f->height = d.height;
  f->hRes = d.hRes;
  f->vRes = d.vRes;
  f->dataSize = d.dataSize;
  f->frameCount = d.frameCount;
  std::memcpy(f->name, d.name, sizeof f->name);
  f->depth = d.depth;
  f->clutID = d.clutID;
  const uint8_t* extensions = reinterpret_cast<const uint8_t*>(*desc) + kFixedBytes;
  f->extensions.assign(extensions, extensions + (d.idSize > kFixedBytes ? d.idSize - kFixedBytes : 0));
  return true;
}

void HostMovieCopyMessage(const char* message, char* out, SInt32 outSize) {
  if (out == nullptr || outSize <= 0) return;
  const size_t n = std::min(std::strlen(message), size_t(outSize) - 1);
  std::memcpy(out, message, n);
  out[n] = '\0';
}
