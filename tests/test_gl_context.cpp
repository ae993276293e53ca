// The private EGL context on this machine's OpenGL (llvmpipe when there is
// no graphics hardware).
#include <gtest/gtest.h>
#include <EGL/egl.h>

#include <thread>

#include "quicktime/Common/OpenGL/GLContext.h"

TEST(GLContext, LifecycleStates) {
  GLContext never;
  never.DeleteContext();  // never initialised: nothing happens
  never.DeleteContext();
  EXPECT_FALSE(never.ActivateContext());

  GLContext c;
  ASSERT_TRUE(c.InitContext()) << "no OpenGL context could be created";
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);  // left not current
  EXPECT_GT(c.maxTextureSize, 0);
  EXPECT_EQ(c.maxTextureSize, c.extensions.maxTextureSize);
  EXPECT_GT(c.extensions.glVersion, 1.0);
  EXPECT_NE(c.extensions.rendererName[0], 0);
  void* first = c.context;
  EXPECT_TRUE(c.InitContext());  // a second call creates nothing
  EXPECT_EQ(c.context, first);
  // What the decoder relies on.
  EXPECT_EQ(c.extensions.EXT_texture_compression_s3tc, 1);
  EXPECT_EQ(c.extensions.EXT_framebuffer_object, 1);
  EXPECT_EQ(c.extensions.ARB_shader_objects, 1);
  EXPECT_EQ(c.extensions.ARB_texture_compression, 1);
  EXPECT_NE(c.extensions.glUseProgramObjectARB, nullptr);
  EXPECT_NE(c.extensions.glBindFramebufferEXT, nullptr);

  ASSERT_TRUE(c.ActivateContext());
  EXPECT_EQ(eglGetCurrentContext(), c.context);
  EXPECT_NE(glGetString(GL_VERSION), nullptr);
  c.DeactivateContext();
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);

  // Another thread may use the context once this one has let go of it.
  bool ok = false;
  std::thread t([&] {
    ok = c.ActivateContext() && glGetString(GL_RENDERER) != nullptr;
    c.DeactivateContext();
  });
  t.join();
  EXPECT_TRUE(ok);

  // Two instances: separate contexts.
  GLContext other;
  ASSERT_TRUE(other.InitContext());
  EXPECT_NE(other.context, c.context);
  other.DeleteContext();
  c.DeleteContext();
  EXPECT_EQ(c.context, nullptr);
  c.DeleteContext();
  // A later InitContext makes a new context and fills the registry again.
  EXPECT_TRUE(c.InitContext());
  c.DeleteContext();
}
