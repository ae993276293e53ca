#include "movie/MovieWriterSound.h"

#include <cstring>

namespace orxmovie {

namespace {

// Flags of a linear PCM description: packed little-endian, signed integers
// or floats.
constexpr uint32_t kLPCMFloat = 1, kLPCMSignedInteger = 4, kLPCMPacked = 8;

}  // namespace

uint64_t SoundTrackWriter::Duration(uint32_t timeScale) const {
  if (format.sampleRate == 0) return 0;
  // frames < 2^32 and timeScale < 2^31: no overflow in 64 bits.
  return (frames * timeScale + format.sampleRate - 1) / format.sampleRate;
}

std::string SoundFormatProblem(const SoundFormat& f) {
  if (f.sampleRate < 1 || f.sampleRate > 384000) return Format("a sound rate of %u Hz", f.sampleRate);
  if (f.channels < 1 || f.channels > 64) return Format("%u sound channels", f.channels);
  if (f.sampleFormat != kSoundInt16 && f.sampleFormat != kSoundInt24 && f.sampleFormat != kSoundFloat32)
    return Format("sound sample format %u", f.sampleFormat);
  return "";
}

uint32_t SoundBytesPerFrame(const SoundFormat& f) {
  const bool stored = f.sampleRate >= 1 && f.sampleRate <= 384000 && f.channels >= 1 && f.channels <= 64 &&
                      (f.sampleFormat == kSoundInt16 || f.sampleFormat == kSoundInt24 || f.sampleFormat == kSoundFloat32);
  return stored ? f.channels * (f.sampleFormat / 8) : 0;
}

void WriteSoundTrack(AtomBuilder& b, const SoundTrackWriter& s, uint32_t trackID, uint32_t movieTimeScale,
                     uint64_t now, bool large) {
  const uint64_t movieDuration = s.Duration(movieTimeScale);
  const bool v1 = movieDuration > kMax32 || now > kMax32;  // frames stay below 2^32
  const uint32_t ver = v1 ? 1 : 0;
  b.Open("trak");
  b.OpenFull("tkhd", ver, 0x0F);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(trackID);
  b.Zeros(4);
  b.Time(movieDuration, v1);
  b.Zeros(8);
  b.U16(0);       // layer
  b.U16(0);       // alternate group
  b.U16(0x0100);  // volume 1.0
  b.U16(0);
  b.Matrix();
  b.U32(0);  // no picture
  b.U32(0);
  b.Close();

  b.Open("mdia");
  b.OpenFull("mdhd", ver, 0);
  b.Time(now, v1);
  b.Time(now, v1);
  b.U32(s.format.sampleRate);
  b.Time(s.frames, v1);
  b.U16(0);
  b.U16(0);
  b.Close();
  Handler(b, "mhlr", "soun");

  b.Open("minf");
  b.OpenFull("smhd", 0, 0);
  b.U16(0);  // balance: centre
  b.U16(0);
  b.Close();
  DataInThisFile(b);

  b.Open("stbl");
  b.OpenFull("stsd", 0, 0);
  b.U32(1);
  // A version 2 sound description: linear PCM described exactly, whatever
  // the depth or the rate.
  b.U32(72);
  b.U32(FourCC("lpcm"));
  b.Zeros(6);
  b.U16(1);  // data reference 1
  b.U16(2);  // version
  b.U16(0);
  b.U32(0);
  b.U16(3);
  b.U16(16);
  b.U16(0xFFFE);
  b.U16(0);
  b.U32(0x00010000);
  b.U32(72);  // size of the structure without extensions
  const double rate = s.format.sampleRate;
  uint64_t rateBits;
  std::memcpy(&rateBits, &rate, 8);
  b.U64(rateBits);
  b.U32(s.format.channels);
  b.U32(0x7F000000);
  b.U32(s.format.sampleFormat);  // bits a channel
  b.U32(kLPCMPacked | (s.format.sampleFormat == kSoundFloat32 ? kLPCMFloat : kLPCMSignedInteger));
  b.U32(s.bytesPerFrame);
  b.U32(1);  // frames a packet
  b.Close();
  b.OpenFull("stts", 0, 0);
  b.U32(1);
  b.U32(uint32_t(s.frames));
  b.U32(1);
  b.Close();
  // Chunks of the same length share an entry: all but the last, as a rule.
  b.OpenFull("stsc", 0, 0);
  std::vector<std::pair<uint32_t, uint32_t>> runs;  // first chunk (1-based), frames
  for (size_t i = 0; i < s.chunks.size(); ++i)
    if (runs.empty() || runs.back().second != s.chunks[i].frames) runs.push_back({uint32_t(i + 1), s.chunks[i].frames});
  b.U32(uint32_t(runs.size()));
  for (const auto& [first, frames] : runs) {
    b.U32(first);
    b.U32(frames);
    b.U32(1);
  }
  b.Close();
  b.OpenFull("stsz", 0, 0);
  b.U32(s.bytesPerFrame);
  b.U32(uint32_t(s.frames));
  b.Close();
  b.OpenFull(large ? "co64" : "stco", 0, 0);
  b.U32(uint32_t(s.chunks.size()));
  for (const SoundChunk& c : s.chunks) large ? b.U64(c.offset) : b.U32(uint32_t(c.offset));
  b.Close();
  b.Close();  // stbl
  b.Close();  // minf
  b.Close();  // mdia
  b.Close();  // trak
}

}  // namespace orxmovie
