#include "quicktime/Common/OpenGL/GLSLProgram.h"

#include <cstdio>

void GLSLProgram::CreateGLResources(GLExtensions& ext) {
  if (!ext.glCreateProgramObjectARB || !ext.glCreateShaderObjectARB) return;
  if (program == 0) program = ext.glCreateProgramObjectARB();
  if (shader == 0) shader = ext.glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
}

void GLSLProgram::ReleaseGLResources(GLExtensions& ext) {
  if (ext.glDeleteObjectARB) {
    if (program != 0) ext.glDeleteObjectARB(program);
    if (shader != 0) ext.glDeleteObjectARB(shader);
  }
  program = shader = 0;
}

bool GLSLProgram::Init(const char* src, GLExtensions& ext) {
  ReleaseGLResources(ext);
  CreateGLResources(ext);
  std::snprintf(source, sizeof source, "%s", src ? src : "");
  return Compile(ext);
}

bool GLSLProgram::Compile(GLExtensions& ext) {
  if (source[0] == 0 || program == 0 || shader == 0 || !ext.glShaderSourceARB || !ext.glCompileShaderARB ||
      !ext.glGetObjectParameterivARB || !ext.glGetInfoLogARB || !ext.glAttachObjectARB || !ext.glLinkProgramARB)
    return false;
  const GLcharARB* text = source;
  ext.glShaderSourceARB(shader, 1, &text, nullptr);
  ext.glCompileShaderARB(shader);
  GLint status = 0;
  ext.glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &status);
  if (status != 1) {
    ext.glGetInfoLogARB(shader, sizeof log, nullptr, log);
    log[sizeof log - 1] = 0;
    return false;
  }
  ext.glAttachObjectARB(program, shader);
  ext.glLinkProgramARB(program);
  ext.glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &status);
  if (status == 1) {
    std::snprintf(log, sizeof log, "Compile OK");
    return true;
  }
  ext.glGetInfoLogARB(program, sizeof log, nullptr, log);
  log[sizeof log - 1] = 0;
  return false;
}
