// Helpers for the component suites: a private preferences folder, opening
// the compressor through the host, sessions that collect their frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ImageCodec.h"

// Points ORX_PREFERENCES_DIR at a fresh folder for the test process.
std::string UsePrivatePreferencesFolder();
std::string PreferencesFile();

ComponentInstance OpenCompressor();

// Sets the four settings through a settings blob.
ComponentResult SetSettings(ComponentInstance ci, int alpha, int gradients, int skipLZF, int32_t threads);
std::vector<uint8_t> GetSettings(ComponentInstance ci);

struct EmittedFrame {
  std::vector<uint8_t> bytes;
  Size bufferSize = 0;
  MediaSampleFlags flags = 0;
  ICMFrameType type = 0;
};

// A compression session on an opened compressor that keeps every frame.
struct CollectingSession {
  ICMCompressionSessionRef session = nullptr;
  std::vector<EmittedFrame> frames;
  OSStatus Create(ComponentInstance ci, int width, int height);
  OSStatus Encode(CVPixelBufferRef pixels);
  ~CollectingSession();
};

// A 32-bit ARGB pixel buffer filled from bytes (A, R, G, B), rows rowBytes apart.
CVPixelBufferRef MakePixelBuffer(int width, int height, const std::vector<uint8_t>& argb, size_t rowBytes = 0);
std::vector<uint8_t> NoiseARGB(int width, int height, uint32_t seed);
std::vector<uint8_t> PictureARGB(int width, int height);
