#include "quicktime/Common/OpenGL/GLDecodeRoad.h"

#include <algorithm>
#include <cstdint>

namespace {

// The rows of a band: the whole padded frame when it is small enough,
// otherwise the largest power of two of rows (at least one block row) whose
// band holds at most bandPixels padded pixels.
int BandRows(const GLDecompressorResources& r, int w4, int h4) {
  if (static_cast<int64_t>(w4) * h4 <= r.wholeFramePixels) return h4;
  int rows = 4;
  while (rows * 2 < h4 && static_cast<int64_t>(rows) * 2 * w4 <= r.bandPixels) rows *= 2;
  return rows;
}

}  // namespace

bool DrawFrameOnGPU(GLDecompressorResources* r, const ORXFrameLayout& layout, const unsigned char* blocks,
                    const unsigned char* layer, int width, int height, unsigned char* dest, int rowBytes) {
  if (r == nullptr) return false;
  if (!r->InitContext()) {
    r->road = ORXDecodeRoad::noContext;  // the next frames go straight to the processor
    return false;
  }
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
