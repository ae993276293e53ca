// orxdec's graphics road: frames drawn into GStreamer's GL memory. The
// processor only unpacks LZF (liborx's texture road); DXT1/DXT5 blocks go up
// as an S3TC texture and DXT24 blocks as an integer texture that liborx's
// fragment program decodes, each drawn into the output buffer's RGBA
// texture. The GL context is shared with the pipeline through GStreamer's
// context queries; every GL object is made and released in its GL thread.
#pragma once

#include <gst/gl/gl.h>
#include <gst/gst.h>

#include "orx/orx.h"

struct OrxGLOutput;

OrxGLOutput* OrxGLOutputNew();
// Releases the GL objects in the GL thread, then the contexts.
void OrxGLOutputFree(OrxGLOutput* gl);
// Drops the GL objects and the contexts (the element stops), keeping the
// record.
void OrxGLOutputReset(OrxGLOutput* gl);

// The element's set_context and its context queries.
void OrxGLOutputSetContext(OrxGLOutput* gl, GstElement* element, GstContext* context);
bool OrxGLOutputHandleQuery(OrxGLOutput* gl, GstElement* element, GstQuery* query);

// Finds or makes the GL context to draw in: the pipeline's, shared through
// the context queries, else one of its own on the pipeline's display. False
// when none can be had.
bool OrxGLOutputEnsureContext(OrxGLOutput* gl, GstElement* element);
GstGLContext* OrxGLOutputContext(OrxGLOutput* gl);

// Draws a frame handed over by orx_frame_texture_with_flags
// (ORX_TEXTURE_DXT24_BLOCKS) into the GL memory of out, a buffer of the GL
// buffer pool at the picture's size. alpha is the frame's has_alpha. False
// with *why on failure (a GL error, no S3TC, no program).
bool OrxGLOutputDraw(OrxGLOutput* gl, const orx_texture& tex, bool alpha, GstBuffer* out, const char** why);

// GL objects alive now (textures, buffers, vertex arrays, framebuffers,
// programs) that this record made; 0 once freed or reset. For the suites.
int OrxGLOutputObjects(const OrxGLOutput* gl);
