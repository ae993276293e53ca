#include "Codec.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/Format/ORXDecompressorRequests.h"
#include "core/Format/ORXHeader.h"
#include "core/Format/ORXPreferencesPlace.h"
#include "core/Frames/ORXJobs.h"
#include "MacMemory.h"
#include "orx/orx.h"

namespace orxapp {

namespace {

bool IEquals(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The decompressor's answer to its own road request, in words.
std::string AskDecodeRoad(ComponentInstance decompressor) {
  char text[700] = "";
  const uintptr_t args[3] = {0, reinterpret_cast<uintptr_t>(text), sizeof text};
  const ComponentResult r = HostCallComponent(decompressor, kORXGetDecodeRoadSelect, args, 3);
  if (r != noErr || text[0] == 0)
    return "unknown (the decompressor does not say: " + StatusText(OSStatus(r == noErr ? codecErr : r)) + ")";
  return text;
}

}  // namespace

bool ParseTransparency(const std::string& text, int* out) {
  if (IEquals(text, "discard")) *out = 0;
  else if (IEquals(text, "preserve")) *out = 1;
  else return false;
  return true;
}

bool ParseOptimize(const std::string& text, int* out) {
  if (IEquals(text, "quality")) *out = 0;
  else if (IEquals(text, "performance")) *out = 1;
  else if (IEquals(text, "vovorevaded")) *out = 2;
  else return false;
  return true;
}

bool ParseSmaller(const std::string& text, int* out) {
  static const char* const kNames[] = {"off", "light", "medium", "strong"};
  for (int i = 0; i < 4; ++i)
    if (strcasecmp(text.c_str(), kNames[i]) == 0) {
      *out = i;
      return true;
    }
  return false;
}

const char* SmallerName(int smaller) {
  static const char* const kNames[] = {"off", "light", "medium", "strong"};
  return smaller >= 0 && smaller < 4 ? kNames[smaller] : "?";
}

bool ParseThreads(const std::string& text, int32_t* out) {
  // The popup's item texts ("Max", "4x"), or a count without its "x".
  for (int32_t choice = 1; choice <= kORXThreadChoiceCount; ++choice) {
    const std::string name = ORXThreadChoiceName(choice);
    if (IEquals(text, name.c_str()) || (name.back() == 'x' && IEquals(text, name.substr(0, name.size() - 1).c_str()))) {
      *out = choice;
      return true;
    }
  }
  return false;
}

std::string OptimizeName(const CompressorSettings& s) {
  if (s.skipLZF) return "VovorEvaded";
  return s.preserveGradients ? "Quality" : "Performance";
}

std::string ThreadsName(int32_t t) {
  const char* name = ORXThreadChoiceName(t);
  return name ? name : "value " + std::to_string(t);
}

std::string StatusText(OSStatus status) {
  const char* words = nullptr;
  switch (status) {
    case paramErr: words = "invalid parameter"; break;
    case memFullErr: words = "out of memory"; break;
    case resNotFound: words = "a resource of the codec is missing"; break;
    case fnfErr: words = "file not found"; break;
    case ioErr: words = "input/output error"; break;
    case eofErr: words = "unexpected end of file"; break;
    case codecErr: words = "the codec failed"; break;
    case codecBadDataErr: words = "the frame data is damaged"; break;
    case userCanceledErr: words = "cancelled"; break;
    case invalidComponentID: words = "the ORX component is not installed"; break;
    case kNoCodecOpenErr: words = "the codec instance is not open"; break;
    default: break;
  }
  if (status == static_cast<OSStatus>(badComponentSelector)) words = "the codec does not implement this request";
  const std::string code = "(" + std::to_string(status) + ")";
  return words ? std::string(words) + " " + code : "error " + code;
}

ComponentInstance OpenORXCompressor(std::string* error) {
  ComponentInstance ci = nullptr;
  const OSErr err = OpenADefaultComponent(compressorComponentType, kORXCodecType, &ci);
  if (err != noErr || ci == nullptr) {
    const std::string skipped = ComponentProblems();
    *error = "cannot open the ORX compressor: " + StatusText(err) +
             " (the component is looked for in ORX_COMPONENT_PATH and beside libqthost" +
             (skipped.empty() ? "" : "; skipped: " + skipped) + ")";
    return nullptr;
  }
  return ci;
}

OSStatus ReadCompressorSettings(ComponentInstance ci, CompressorSettings* out) {
  // Asking for the maximum size makes the compressor load its persisted
  // preferences (unless a blob was set); the blob then reports them.
  const Rect r{0, 0, 4, 4};
  SInt32 size = 0;
  ComponentResult err = ImageCodecGetMaxCompressionSize(ci, nullptr, &r, 32, codecNormalQuality, &size);
  if (err != noErr) return err;
  Handle h = NewHandle(0);
  if (h == nullptr) return memFullErr;
  err = ImageCodecGetSettings(ci, h);
  if (err == noErr && (GetHandleSize(h) != static_cast<Size>(kORXSettingsBlobSize) ||
                       !ReadORXSettingsBlob(reinterpret_cast<const uint8_t*>(*h), out)))
    err = codecErr;
  DisposeHandle(h);
  return err;
}

OSStatus ApplyEncoderChoices(ComponentInstance ci, const EncoderChoices& c, CompressorSettings* applied) {
  CompressorSettings s;
  OSStatus err = ReadCompressorSettings(ci, &s);
  if (err != noErr) return err;
  const bool any = c.transparency >= 0 || c.optimize >= 0 || c.threads >= 0;
  if (any) {
    if (c.transparency >= 0) ORXApplyTransparencyPopup(&s, int16_t(c.transparency + 1));
    if (c.optimize >= 0) ORXApplyOptimizePopup(&s, int16_t(c.optimize + 1));
    if (c.threads >= 0) s.threadSetting = c.threads;
    Handle h = NewHandle(kORXSettingsBlobSize);
    if (h == nullptr) return memFullErr;
    WriteORXSettingsBlob(s, reinterpret_cast<uint8_t*>(*h));
    err = ImageCodecSetSettings(ci, h);
    DisposeHandle(h);
    if (err != noErr) return err;
  }
  if (applied) *applied = s;
  return noErr;
}

// ---- Encoder --------------------------------------------------------------------

Encoder::~Encoder() { Close(); }

OSStatus Encoder::Emitted(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef frame, void*) {
  auto* self = static_cast<Encoder*>(refCon);
  if (error != noErr) return self->sinkStatus_ = error;
  const auto* p = static_cast<const uint8_t*>(ICMEncodedFrameGetDataPtr(frame));
  const OSStatus r = self->sink_(p, static_cast<size_t>(ICMEncodedFrameGetDataSize(frame)));
  if (r != noErr) self->sinkStatus_ = r;
  return r;
}

bool Encoder::Open(int width, int height, TimeScale timeScale, const EncoderChoices& choices, Sink sink,
                   std::string* error) {
  Close();
  if (width <= 0 || height <= 0 || width > kORXMaxSide || height > kORXMaxSide) {
    *error = "frame size " + std::to_string(width) + "x" + std::to_string(height) + " is outside 1.." + std::to_string(kORXMaxSide);
    return false;
  }
  width_ = width;
  height_ = height;
  sink_ = std::move(sink);
  compressor_ = OpenORXCompressor(error);
  if (compressor_ == nullptr) return false;
  OSStatus err = ApplyEncoderChoices(compressor_, choices, &settings_);
  if (err != noErr) {
    *error = "the compressor refused its settings: " + StatusText(err);
    Close();
    return false;
  }
  ICMEncodedFrameOutputRecord out{Emitted, this, nullptr};
  err = HostICMCompressionSessionCreateWithCompressor(compressor_, width, height, kORXCodecType, timeScale, nullptr,
                                                      &out, &session_);
  if (err != noErr) {
    *error = "cannot start a compression session: " + StatusText(err);
    Close();
    return false;
  }
  if (choices.smaller > 0) {
    // The compressor's settings as liborx takes them: Max is one thread a core.
    orx_encoder_options options{};
    options.settings.keep_alpha = settings_.preserveAlpha;
    options.settings.preserve_gradients = settings_.preserveGradients;
    options.settings.skip_lzf = settings_.skipLZF;
    options.settings.threads = settings_.threadSetting == 1 ? 0 : ORXThreadsForChoice(settings_.threadSetting);
    options.smaller = choices.smaller;
    const orx_error e = orx_encoder_create_with_options(&options, &library_);
    if (e == ORX_OK) frame_.resize(orx_max_encoded_size(width, height, &options.settings));
    if (e != ORX_OK || frame_.empty()) {
      *error = std::string("cannot start liborx's encoder: ") + orx_error_string(e);
      Close();
      return false;
    }
  }
  return true;
}

bool Encoder::Encode(const uint8_t* argb, size_t rowBytes, TimeValue64 time, TimeValue64 duration,
                     std::string* error) {
  if (session_ == nullptr) {
    *error = "the compression session is not open";
    return false;
  }
  if (library_ != nullptr) {
    size_t size = 0;
    const orx_error e = orx_encode(library_, argb, width_, height_, rowBytes, ORX_PIXEL_ARGB, frame_.data(),
                                   frame_.size(), &size);
    if (e != ORX_OK) {
      *error = std::string("liborx's encoder failed on a frame: ") + orx_error_string(e);
      return false;
    }
    const OSStatus s = sink_(frame_.data(), size);
    if (s != noErr) *error = "the frame could not be stored: " + StatusText(s);
    return s == noErr;
  }
  // The frame is handed to the compressor in place, as a host hands it the
  // pixel buffer it decoded into; the session encodes before it returns.
  CVPixelBufferRef pixels = nullptr;
  if (CVPixelBufferCreateWithBytes(nullptr, size_t(width_), size_t(height_), k32ARGBPixelFormat,
                                   const_cast<uint8_t*>(argb), rowBytes, nullptr, nullptr, nullptr,
                                   &pixels) != kCVReturnSuccess) {
    *error = "cannot hand the frame to the compressor: out of memory";
    return false;
  }
  sinkStatus_ = noErr;
  OSStatus err = ICMCompressionSessionEncodeFrame(session_, pixels, time, duration, 0, nullptr, nullptr, nullptr);
  CVPixelBufferRelease(pixels);
  if (err == noErr) err = sinkStatus_;
  if (err != noErr) {
    *error = "the compressor failed on a frame: " + StatusText(err);
    return false;
  }
  return true;
}

ImageDescriptionHandle Encoder::Description() const {
  return session_ ? HostICMCompressionSessionGetImageDescription(session_) : nullptr;
}

void Encoder::Close() {
  orx_encoder_destroy(library_);
  library_ = nullptr;
  if (session_) ICMCompressionSessionCompleteFrames(session_, true, 0, 0);
  ICMCompressionSessionRelease(session_);
  session_ = nullptr;
  if (compressor_) CloseComponent(compressor_);
  compressor_ = nullptr;
}

// ---- Decoder --------------------------------------------------------------------

Decoder::~Decoder() { Close(); }

bool Decoder::Open(ImageDescriptionHandle desc, std::string* error) {
  Close();
  OSStatus err = HostDecompressionSessionCreate(desc, &session_);
  if (err == noErr) err = HostDecompressionSessionCreateDestination(session_, &destination_);
  if (err != noErr) {
    const std::string skipped = ComponentProblems();
    *error = "cannot open the ORX decompressor: " + StatusText(err) + (skipped.empty() ? "" : " (skipped: " + skipped + ")");
    Close();
    return false;
  }
  width_ = (*desc)->width;
  height_ = (*desc)->height;
  SInt32 w = 0, h = 0;
  HostDecompressionSessionGetDestinationSize(session_, &w, &h);
  destWidth_ = w;
  destHeight_ = h;
  return true;
}

bool Decoder::DecodeTo(const uint8_t* data, size_t size, CVPixelBufferRef destination, std::string* error) {
  pixels_ = nullptr;
  if (session_ == nullptr) {
    *error = "the decompression session is not open";
    return false;
  }
  if (size > 0x7FFFFFFF) {
    *error = "the sample is too large";
    return false;
  }
  const OSStatus err = HostDecompressionSessionDecodeFrame(session_, data, static_cast<SInt32>(size), destination);
  if (err != noErr) {
    *error = "the decompressor rejected the frame: " + StatusText(err);
    return false;
  }
  return true;
}

bool Decoder::DecodeInto(const uint8_t* data, size_t size, uint8_t* pixels, size_t rowBytes, std::string* error) {
  pixels_ = nullptr;
  if (session_ == nullptr) {
    *error = "the decompression session is not open";
    return false;
  }
  if (!DrawsImageOnly()) {
    *error = "the decompressor needs a destination larger than the image";
    return false;
  }
  CVPixelBufferRef destination = nullptr;
  const OSStatus err = CVPixelBufferCreateWithBytes(nullptr, size_t(width_), size_t(height_), k32ARGBPixelFormat,
                                                    pixels, rowBytes, nullptr, nullptr, nullptr, &destination);
  if (err != noErr) {
    *error = "cannot use the destination: " + StatusText(err);
    return false;
  }
  const bool decoded = DecodeTo(data, size, destination, error);
  CVPixelBufferRelease(destination);
  return decoded;
}

bool Decoder::Decode(const uint8_t* data, size_t size, std::string* error) {
  if (!DecodeTo(data, size, destination_, error)) return false;
  CVPixelBufferLockBaseAddress(destination_, 0);
  pixels_ = static_cast<const uint8_t*>(CVPixelBufferGetBaseAddress(destination_));
  rowBytes_ = CVPixelBufferGetBytesPerRow(destination_);
  CVPixelBufferUnlockBaseAddress(destination_, 0);  // the buffer stays ours; the lock only marks access
  return true;
}

std::string Decoder::Road() const {
  ComponentInstance ci = session_ ? HostDecompressionSessionGetDecompressor(session_) : nullptr;
  return ci ? AskDecodeRoad(ci) : "unknown (the decompression session is not open)";
}

void Decoder::Close() {
  if (destination_) CVPixelBufferRelease(destination_);
  destination_ = nullptr;
  HostDecompressionSessionRelease(session_);
  session_ = nullptr;
  pixels_ = nullptr;
}

bool SummarizeFrame(const uint8_t* data, size_t size, int width, int height, FrameSummary* out) {
  if (data == nullptr || size < size_t(kORXHeaderSize)) return false;
  const ORXHeader h = ReadORXHeader(data);
  if (h.headerSize < static_cast<uint32_t>(kORXHeaderSize) || h.headerSize > size) return false;
  const bool dxt24 = h.isDXT24 == 1;
  out->alpha = h.hasAlpha != 0;
  out->lzf = h.isLZF != 0;
  out->variant = dxt24 ? (out->alpha ? "DXT24+alpha" : "DXT24") : (out->alpha ? "DXT5" : "DXT1");
  out->rawSize = static_cast<uint64_t>(CalculateORXBlockDataSize(width, height, out->alpha, dxt24));
  return true;
}

}  // namespace orxapp

namespace orxapp {

int UseDecodeThreads(bool one) {
  setenv("ORX_DECODE_POOL", one ? "0" : "1", 1);
  return one ? 1 : ORXThreadsForCores(static_cast<int>(std::thread::hardware_concurrency()));
}

int32_t FrameHeaderSize() { return kORXHeaderSize; }
int FrameFormatVersion() { return kORXVersion; }

std::string PreferencesPath() { return ORXFindPreferencesPlace().File(); }

std::string PreferencesProblem() { return ORXPreferencesProblem(ORXFindPreferencesPlace()); }

bool HasStoredPreferences() {
  struct stat st {};
  const std::string path = PreferencesPath();
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::string ThreadSettingSource(bool fromOption) {
  if (fromOption) return "--threads";
  return HasStoredPreferences() ? "the stored preferences" : "orx's default while no preferences are stored";
}

std::string ComponentProblems() {
  char text[4096];
  if (HostComponentProblems(text, sizeof text) <= 0) return "";
  std::string s;
  for (const char* c = text; *c != 0; ++c) s += *c == '\n' ? std::string("; ") : std::string(1, *c);
  return s;
}

std::string ComponentVersion() {
  std::string err;
  ComponentInstance ci = OpenORXCompressor(&err);
  if (ci == nullptr) return "";
  const uint32_t v = uint32_t(CallComponentVersion(ci));
  CloseComponent(ci);
  return std::to_string(v >> 16) + "." + std::to_string(v & 0xFFFF);
}

std::string FrameProblem(const uint8_t* data, size_t size, int width, int height) {
  const ORXFrameError e = CheckORXFrameData(data, int64_t(size), width, height, nullptr);
  return e == ORXFrameError::none ? std::string() : ORXFrameErrorMessage(e);
}

std::string DecodeRoadText(const std::string& variant, const Decoder* decoder) {
  if (variant.rfind("DXT24", 0) == 0) return "processor (DXT24 frames always decode on the processor)";
  if (decoder != nullptr) return decoder->Road();
  ComponentInstance ci = nullptr;
  const OSErr err = OpenADefaultComponent(decompressorComponentType, kORXCodecType, &ci);
  if (err != noErr || ci == nullptr) return "unknown (cannot open the ORX decompressor: " + StatusText(err) + ")";
  const std::string road = AskDecodeRoad(ci);
  CloseComponent(ci);
  return road;
}

}  // namespace orxapp
