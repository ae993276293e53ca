// One GLSL program object with one fragment shader, its source and the log
// of its last compile. Needs the owner's context current.
#pragma once

#include "quicktime/Common/OpenGL/GLExtensions.h"

class GLSLProgram {
 public:
  GLSLProgram() : program(0), shader(0) {
    source[0] = 0;
    log[0] = 0;
  }
  void CreateGLResources(GLExtensions& ext);
  void ReleaseGLResources(GLExtensions& ext);
  bool Init(const char* src, GLExtensions& ext);
  bool Compile(GLExtensions& ext);

  GLhandleARB program;
  GLhandleARB shader;
  char source[4096];
  char log[4096];
};
