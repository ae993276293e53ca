#include "quicktime/Common/Decode/ORXDecodeRoad.h"

#include <cstdio>
#include <cstring>

#include "core/Utilities/ORXSwitches.h"
#include "quicktime/Common/OpenGL/GLDecompressorResources.h"

namespace {

// Case-insensitive search for word in text.
bool Contains(const char* text, const char* word) {
  const size_t n = std::strlen(word);
  for (const char* p = text; *p != 0; ++p) {
    size_t i = 0;
    while (i < n && p[i] != 0 && (p[i] | 0x20) == (word[i] | 0x20)) ++i;
    if (i == n) return true;
  }
  return false;
}

}  // namespace

bool ORXGLRoadDisabled() { return ORXSwitchOn(ORXSwitch::disableGL); }
bool ORXGLRoadForced() { return ORXSwitchOn(ORXSwitch::forceGL); }

bool ORXIsSoftwareRenderer(const char* renderer) {
  if (renderer == nullptr) return false;
  static const char* const kSoftware[] = {"llvmpipe", "softpipe", "swrast", "software rasterizer", "gdi generic"};
  for (const char* word : kSoftware)
    if (Contains(renderer, word)) return true;
  return false;
}

namespace {

ORXDisplayRenderer Learn() {
  ORXDisplayRenderer d{};
  bool software = false;
  if (GLContext::RendererWithoutContext(d.name, static_cast<int>(sizeof d.name), &software)) {
    d.usable = true;
    d.software = software || ORXIsSoftwareRenderer(d.name);
    return d;
  }
  GLContext probe;
  if (probe.InitContext()) {
    d.usable = true;
    std::snprintf(d.name, sizeof d.name, "%s", probe.extensions.rendererName);
    d.software = ORXIsSoftwareRenderer(d.name);
  }
  probe.DeleteContext();
  return d;
}

}  // namespace

const ORXDisplayRenderer& ORXLearnDisplayRenderer() {
  static const ORXDisplayRenderer learned = Learn();
  return learned;
}

ORXDecodeRoad ORXChooseDXTRoad(GLDecompressorResources* r) {
  if (r == nullptr) return ORXDecodeRoad::disabled;
  if (r->roadChosen) return r->road;
  r->roadChosen = true;
  // Forced: whatever renders, the instance's own context, made on its first
  // frame, is all the road needs.
  if (r->forceGraphics) return r->road = ORXDecodeRoad::graphics;
  const ORXDisplayRenderer& display = ORXLearnDisplayRenderer();
  if (!display.usable)
    r->road = ORXDecodeRoad::noContext;
  else if (display.software)
    r->road = ORXDecodeRoad::softwareRenderer;
  else
    r->road = ORXDecodeRoad::graphics;
  return r->road;
}

const char* ORXRoadRenderer(const GLDecompressorResources* r) {
  if (r == nullptr) return "";  // disabled: no renderer is asked
  if (r->extensions.rendererName[0] != 0) return r->extensions.rendererName;
  return ORXLearnDisplayRenderer().name;
}

const char* ORXDecodeRoadName(ORXDecodeRoad road) { return road == ORXDecodeRoad::graphics ? "graphics" : "processor"; }

void ORXDescribeDecodeRoad(ORXDecodeRoad road, const char* renderer, char* text, int size) {
  if (text == nullptr || size <= 0) return;
  const char* name = (renderer != nullptr && renderer[0] != 0) ? renderer : "the renderer";
  // The switches as they are set, in the words they were given.
  const char* forced = ORXSwitchSetting(ORXSwitch::forceGL);
  const char* disabled = ORXSwitchSetting(ORXSwitch::disableGL);
  switch (road) {
    case ORXDecodeRoad::graphics:
      if (ORXIsSoftwareRenderer(renderer) && forced != nullptr)
        std::snprintf(text, static_cast<size_t>(size), "graphics (%s, kept by ORX_FORCE_GL=%s)", name, forced);
      else
        std::snprintf(text, static_cast<size_t>(size), "graphics (%s)", name);
      return;
    case ORXDecodeRoad::softwareRenderer:
      std::snprintf(text, static_cast<size_t>(size),
                    "processor (%s is a software rasterizer; ORX_FORCE_GL=1 keeps the graphics road)", name);
      return;
    case ORXDecodeRoad::noContext:
      std::snprintf(text, static_cast<size_t>(size), "processor (no usable OpenGL context)");
      return;
    case ORXDecodeRoad::disabled:
      if (disabled != nullptr)
        std::snprintf(text, static_cast<size_t>(size), "processor (ORX_DISABLE_GL=%s)", disabled);
      else
        std::snprintf(text, static_cast<size_t>(size), "processor (the graphics road is turned off)");
      return;
  }
  text[0] = 0;
}
