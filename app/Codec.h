// The orx program's road to the codec: the compressor and decompressor
// components, found through their resources and called through the host's
// compression and decompression sessions, as any host application calls them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Format/ORXFormat.h"
#include "core/Format/ORXSettingsFormat.h"
#include "ImageCodec.h"

typedef struct orx_encoder orx_encoder;  // liborx's (orx/orx.h)

namespace orxapp {

// The compressor's three popups as command-line choices; -1 leaves a setting
// as the compressor's persisted preferences have it.
struct EncoderChoices {
  int transparency = -1;  // 0 discard, 1 preserve
  int optimize = -1;      // 0 quality, 1 performance, 2 vovorevaded
  int32_t threads = -1;   // the compressor's threadSetting (1 = max, 2 = 1x, ... 9 = 24x)
  int smaller = 0;        // 0 off; 1 light, 2 medium, 3 strong: frames made through liborx
};
bool ParseSmaller(const std::string& text, int* out);  // off|light|medium|strong
const char* SmallerName(int smaller);

// The four settings as the 12-byte blob carries them.
using CompressorSettings = ORXSettingsValues;

bool ParseTransparency(const std::string& text, int* out);
bool ParseOptimize(const std::string& text, int* out);
bool ParseThreads(const std::string& text, int32_t* out);  // max|1|2|4|6|8|12|16|24
std::string OptimizeName(const CompressorSettings& s);     // "Quality", "Performance", "VovorEvaded"
std::string ThreadsName(int32_t threadSetting);            // "Max", "1x", ... or "value N"

// Describes a status in words, e.g. "the frame data is damaged (-8969)".
std::string StatusText(OSStatus status);

// Where the compressor keeps its preferences on this platform ("" when no
// home folder is known), why they cannot be stored there ("" when nothing
// is known to stand in the way), and whether the user has stored any.
std::string PreferencesPath();
std::string PreferencesProblem();
bool HasStoredPreferences();
// The program's thread choice while the user has stored no preferences:
// Max, every core. The compressor's own default (one thread) stays for other
// hosts; orx settings stores Max with the other popups when nothing was
// stored before, so storing one popup never turns orx to one thread.
constexpr int32_t kProgramDefaultThreads = 1;
// Where the thread setting orx encodes with comes from, in words:
// "--threads" when an option named it, else "the stored preferences" or
// "orx's default while no preferences are stored".
std::string ThreadSettingSource(bool fromOption);
// The component files the host skipped so far, "PATH: reason" each,
// separated by ';' ("" when none): a resource file it could not read, a
// library that did not load.
std::string ComponentProblems();
// The installed components' version ("1.1"), asked of the compressor; ""
// when it cannot be opened.
std::string ComponentVersion();

// Opens the ORX compressor; error in words on failure.
ComponentInstance OpenORXCompressor(std::string* error);
// The settings the instance would encode with: its persisted preferences
// (read by the compressor itself) unless a blob was set.
OSStatus ReadCompressorSettings(ComponentInstance ci, CompressorSettings* out);
// Applies choices on top of the instance's current settings through the
// settings blob, as a host restores saved settings.
OSStatus ApplyEncoderChoices(ComponentInstance ci, const EncoderChoices& choices, CompressorSettings* applied);

// One compressor instance with its session; frames are handed to the sink
// as the compressor emits them. With choices.smaller the frames are made by
// liborx's encoder instead, with the compressor's settings (its settings
// blob has no room for the level) and blocks chosen to pack smaller; the
// session still gives the sample description.
class Encoder {
 public:
  using Sink = std::function<OSStatus(const uint8_t* data, size_t size)>;
  Encoder() = default;
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  ~Encoder();

  // Opens the compressor, applies the choices and prepares a session of
  // width x height at timeScale.
  bool Open(int width, int height, TimeScale timeScale, const EncoderChoices& choices, Sink sink, std::string* error);
  // Encodes one ARGB frame (width x height, stride rowBytes), read in place.
  bool Encode(const uint8_t* argb, size_t rowBytes, TimeValue64 time, TimeValue64 duration, std::string* error);
  // The sample description the session built (valid while open).
  ImageDescriptionHandle Description() const;
  const CompressorSettings& Settings() const { return settings_; }
  void Close();

 private:
  static OSStatus Emitted(void* refCon, ICMCompressionSessionRef, OSStatus error, ICMEncodedFrameRef frame, void*);
  ComponentInstance compressor_ = nullptr;
  ICMCompressionSessionRef session_ = nullptr;
  ::orx_encoder* library_ = nullptr;
  std::vector<uint8_t> frame_;  // liborx's frame
  Sink sink_;
  OSStatus sinkStatus_ = noErr;
  int width_ = 0;
  int height_ = 0;
  CompressorSettings settings_;
};

// One decompressor instance for a sample description, with its destination.
class Decoder {
 public:
  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder();

  bool Open(ImageDescriptionHandle desc, std::string* error);
  // Decodes one sample; on success pixels() holds the image (width x height
  // ARGB, stride rowBytes(), the destination extended as the decompressor
  // asked).
  bool Decode(const uint8_t* data, size_t size, std::string* error);
  // True when the decompressor asks for no extension beyond the image: it
  // can then draw straight into the caller's memory (DecodeInto).
  bool DrawsImageOnly() const { return destWidth_ == width_ && destHeight_ == height_; }
  // Decodes one sample into the caller's width x height ARGB pixels, rows
  // rowBytes apart; only when DrawsImageOnly(). Pixels() is then null.
  bool DecodeInto(const uint8_t* data, size_t size, uint8_t* pixels, size_t rowBytes, std::string* error);
  const uint8_t* Pixels() const { return pixels_; }
  size_t RowBytes() const { return rowBytes_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // The road this instance's DXT1/DXT5 frames take, in words with the
  // reason, as the decompressor answers it; after a frame, the road that
  // frame took. An error in words when it cannot be asked.
  std::string Road() const;
  void Close();

 private:
  // One sample into destination through the session.
  bool DecodeTo(const uint8_t* data, size_t size, CVPixelBufferRef destination, std::string* error);
  HostDecompressionSessionRef session_ = nullptr;
  CVPixelBufferRef destination_ = nullptr;
  const uint8_t* pixels_ = nullptr;
  size_t rowBytes_ = 0;
  int width_ = 0;
  int height_ = 0;
  int destWidth_ = 0;
  int destHeight_ = 0;
};

// What a frame's header says, for reports: "DXT1", "DXT5", "DXT24",
// "DXT24+alpha"; lzf whether the block data is packed; rawSize the block
// data's unpacked size. False when the sample is not an ORX frame.
struct FrameSummary {
  std::string variant;
  bool alpha = false;
  bool lzf = false;
  uint64_t rawSize = 0;
};
bool SummarizeFrame(const uint8_t* data, size_t size, int width, int height, FrameSummary* out);
// The road frames of this variant take, and why: "processor (DXT24 frames
// always decode on the processor)", or for DXT1/DXT5 the answer of the
// decompressor instance that decodes them (decoder), or, without one, of a
// decompressor opened for the question and closed again. The program makes
// no graphics context of its own for it.
std::string DecodeRoadText(const std::string& variant, const Decoder* decoder = nullptr);
// Whether the decompressors opened from now on decode each frame on the
// calling thread alone (one) or over the decode pool, one thread a core;
// returns the threads a frame is then decoded on. The pool is the
// decompressor's to run; this sets its switch (ORX_DECODE_POOL) for the
// process, so call it while no decompressor is decoding.
int UseDecodeThreads(bool one);
// The bytes of a frame's header: a shorter sample is no ORX frame.
int32_t FrameHeaderSize();
int FrameFormatVersion();  // the version field of the frames this codec writes
// Why the decompressor would refuse the sample as a frame of width x height
// ("block data is shorter than the image needs"); "" when it would take it.
// Packed sections are proven to unpack to their raw sizes, without memory.
// A host checks a stream's first frame this way before it sizes anything
// for the image: a damaged size or packed section must not cost a
// frame-sized allocation.
std::string FrameProblem(const uint8_t* data, size_t size, int width, int height);

}  // namespace orxapp
