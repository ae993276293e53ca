#include "ORXDecodePipeline.h"

#include <lzf.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "DXT24Decoder.h"
#include "DXTDecoder.h"
#include "GLDecompressorResources.h"
#include "ORXHeader.h"

namespace {
constexpr int kMemFullErr = -108;
constexpr int kCodecBadDataErr = -8969;

// The second section (a plain-pixel layer) into its own cleared buffer.
bool ReadLayer(const ORXFrameLayout& layout, const unsigned char* frame, unsigned char* layer) {
  const ORXHeader& h = layout.header;
  const unsigned char* section = frame + h.headerSize + h.dataSize;
  if (h.secondIsLZF == 1) {
    const unsigned n = lzf_decompress(section, static_cast<unsigned>(h.secondSize), layer,
                                      static_cast<unsigned>(layout.layerSize));
    return static_cast<int64_t>(n) == layout.layerSize;
  }
  std::memcpy(layer, section, static_cast<size_t>(layout.layerSize));
  return true;
}

// The rows of a band: the whole padded frame when it is small enough,
// otherwise the largest power of two of rows (at least one block row) whose
// band holds at most bandPixels padded pixels.
int BandRows(const GLDecompressorResources& r, int w4, int h4) {
  if (static_cast<int64_t>(w4) * h4 <= r.wholeFramePixels) return h4;
  int rows = 4;
  while (rows * 2 < h4 && static_cast<int64_t>(rows) * 2 * w4 <= r.bandPixels) rows *= 2;
  return rows;
}

// The graphics road: the blocks go to the GPU still compressed, are drawn
// through the plain program into the framebuffer object and read back; one
// upload, one draw and one read-back a band, and a frame of ordinary size is
// one band. False when the context or an extension it needs is not there
// (nothing has been written then, and the caller decodes on the processor).
bool DrawOnGPU(GLDecompressorResources* r, const ORXFrameLayout& layout, const unsigned char* blocks,
               const unsigned char* layer, int width, int height, unsigned char* dest, int rowBytes) {
  if (r == nullptr || !r->InitContext()) return false;
  GLExtensions& ext = r->extensions;
  if (!ext.EXT_texture_compression_s3tc || !ext.ARB_texture_compression || !ext.EXT_framebuffer_object ||
      !ext.ARB_shader_objects || !ext.glActiveTextureARB || !ext.glMultiTexCoord2fARB || !ext.glUseProgramObjectARB)
    return false;
  if (!r->ActivateContext()) return false;
  const ORXHeader& h = layout.header;
  const int w4 = (width + 3) / 4 * 4, h4 = (height + 3) / 4 * 4;
  const int bandRows = BandRows(*r, w4, h4);
  const size_t blockBytes = static_cast<size_t>(ORXBytesPerBlock(h.hasAlpha != 0, false));
  const size_t bandRowBytes = static_cast<size_t>(w4 / 4) * blockBytes;  // one row of blocks

  if (layer != nullptr) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (h.secondIsRGB)
      r->textures[1].UploadRGB8Image(ext, layer, h.secondWidth, h.secondHeight, h.secondWidth * 3, GL_TEXTURE_2D, false);
    else
      r->textures[1].UploadRGBA8Image(ext, layer, h.secondWidth, h.secondHeight, h.secondWidth * 4, GL_TEXTURE_2D, false);
  }
  // A new band size within the instance gets a framebuffer of its own size.
  if (r->fbo.IsValid(ext) && (r->fbo.width != w4 || r->fbo.height != bandRows)) r->fbo.FreeResources(ext);
  if (!r->fbo.IsValid(ext)) r->fbo.Create(w4, bandRows, 0, false, ext);
  if (!r->fbo.BindAsRenderTarget(ext)) {
    r->DeactivateContext();
    return false;
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (rowBytes != 4 * width) glPixelStorei(GL_PACK_ROW_LENGTH, rowBytes / 4);
  ext.glActiveTextureARB(GL_TEXTURE0_ARB);
  for (int y = 0; y < h4; y += bandRows) {
    const int rows = std::min(bandRows, h4 - y);
    const unsigned char* bandBlocks = blocks + static_cast<size_t>(y / 4) * bandRowBytes;
    r->textures[0].UploadDXT16Rows(ext, bandBlocks, h.hasAlpha != 0, w4, bandRows, rows);
    glViewport(0, 0, w4, rows);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    r->textures[0].BindTexture(ext, false, false, false);
    r->textures[0].SetTextureMatrix();
    ApplyORXShader(r, ext, 0.0, false);

    // Unit 0 spans the band's rows of the block texture, unit 1 the band's
    // share of the whole frame.
    const float t0 = static_cast<float>(rows) / static_cast<float>(bandRows);
    const float f0 = static_cast<float>(y) / static_cast<float>(h4);
    const float f1 = static_cast<float>(y + rows) / static_cast<float>(h4);
    glBegin(GL_QUADS);
    const float corners[4][5] = {{0, 0, f0, -1, -1}, {0, t0, f1, -1, 1}, {1, t0, f1, 1, 1}, {1, 0, f0, 1, -1}};
    for (const auto& c : corners) {
      ext.glMultiTexCoord2fARB(GL_TEXTURE0_ARB, c[0], c[1]);
      ext.glMultiTexCoord2fARB(GL_TEXTURE1_ARB, c[0], c[2]);
      glVertex2f(c[3], c[4]);
    }
    glEnd();
    const int outRows = std::min(rows, height - y);
    if (outRows > 0)
      glReadPixels(0, 0, width, outRows, GL_RGBA, GL_UNSIGNED_BYTE, dest + static_cast<size_t>(y) * rowBytes);
  }
  ext.glUseProgramObjectARB(0);
  ext.glActiveTextureARB(GL_TEXTURE0_ARB);
  r->textures[0].UnbindTexture();
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  r->fbo.UnbindAsRenderTarget(ext);
  r->DeactivateContext();
  return true;
}

}  // namespace

bool ORXGLRoadDisabled() {
  const char* v = std::getenv("ORX_DISABLE_GL");
  return v != nullptr && v[0] != 0 && v[0] != '0';
}

int ORX_DecompressImageData(GLDecompressorResources* resources, int width, int height, const unsigned char* frame,
                            int64_t frameSize, unsigned char* dest, int rowBytes) {
  ORXFrameLayout layout;
  if (dest == nullptr || CheckORXFrame(frame, frameSize, width, height, &layout) != ORXFrameError::none)
    return kCodecBadDataErr;
  const ORXHeader& h = layout.header;
  // DXT24 writes whole blocks; the other roads write the image only.
  const int64_t rowNeeded = 4 * static_cast<int64_t>(h.isDXT24 == 1 ? (width + 3) / 4 * 4 : width);
  if (rowBytes < rowNeeded) return kCodecBadDataErr;
  const int64_t rawSize = layout.blockDataSize;
  if (rawSize == 0) return 0;  // an empty image: nothing to draw

  // Raw blocks are read where they are (the check above guarantees the
  // sample holds all of them); packed ones are unpacked into a buffer that
  // starts cleared, so that no stale memory can ever reach the picture.
  const unsigned char* section = frame + h.headerSize;
  unsigned char* unpacked = nullptr;
  const unsigned char* blocks = section;
  if (h.isLZF == 1) {
    unpacked = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(rawSize), 1));
    if (unpacked == nullptr) return kMemFullErr;
    const unsigned n =
        lzf_decompress(section, static_cast<unsigned>(h.dataSize), unpacked, static_cast<unsigned>(rawSize));
    if (static_cast<int64_t>(n) != rawSize) {  // short, corrupt or too long for the image
      std::free(unpacked);
      return kCodecBadDataErr;
    }
    blocks = unpacked;
  }

  if (h.isDXT24 == 1) {
    if (h.hasAlpha)
      DecodeDXT24WithAlpha(blocks, dest, width, height, rowBytes);
    else
      DecodeDXT24(blocks, dest, width, height, rowBytes);
    std::free(unpacked);
    return 0;
  }

  unsigned char* layer = nullptr;
  // Where the platform ignores the second section the check leaves no
  // layer: no layer buffer, and textures[1] is never uploaded.
  const bool readLayer = layout.layerSize > 0;
  if (readLayer) {
    layer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(layout.layerSize), 1));
    if (layer == nullptr) {
      std::free(unpacked);
      return kMemFullErr;
    }
    if (!ReadLayer(layout, frame, layer)) {
      std::free(layer);
      std::free(unpacked);
      return kCodecBadDataErr;
    }
  }
  if (!DrawOnGPU(resources, layout, blocks, layer, width, height, dest, rowBytes)) {
    // No usable context: the same pixels from the processor.
    if (h.hasAlpha)
      DecodeDXT5ToARGB(blocks, dest, width, height, rowBytes);
    else
      DecodeDXT1ToARGB(blocks, dest, width, height, rowBytes);
  }
  std::free(layer);
  std::free(unpacked);
  return 0;
}
