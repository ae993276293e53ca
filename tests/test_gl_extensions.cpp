// The GL extension registry over a simulated driver: token rules, queries,
// the version parse, gated loaders and the all-or-nothing compression rule.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "quicktime/Common/OpenGL/GLExtensions.h"

namespace {

// A driver that answers from fixed strings and resolves only listed names.
struct FakeDriver : GLExtensions {
  std::string extensions, version = "2.1 Fake Vendor", renderer = "fake renderer";
  std::set<std::string> entryPoints;
  bool noContext = false;
  int lookups = 0;
  std::set<std::string> asked;  // every name looked up
  const GLubyte* GetString(GLenum name) override {
    if (noContext) return nullptr;
    const std::string* s = name == GL_EXTENSIONS ? &extensions : name == GL_VERSION ? &version : &renderer;
    return reinterpret_cast<const GLubyte*>(s->c_str());
  }
  void GetIntegerv(GLenum name, GLint* value) override {
    if (name == GL_MAX_TEXTURE_SIZE) *value = 8192;
    // The renderbuffer query is rejected: the value stays as it was.
  }
  void* GetProcAddress(const char* name) override {
    ++lookups;
    asked.insert(name);
    static char sentinel;
    return entryPoints.count(name) ? &sentinel : nullptr;
  }
};

const char* kCompression[] = {"glCompressedTexImage1D",    "glCompressedTexImage2D",    "glCompressedTexImage3D",
                              "glCompressedTexSubImage1D", "glCompressedTexSubImage2D", "glCompressedTexSubImage3D",
                              "glGetCompressedTexImage"};

}  // namespace

TEST(GetToken, SeparatorsQuotesAndLimits) {
  char buf[16];
  EXPECT_EQ(get_token("  GL_A GL_B", buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "GL_A");
  EXPECT_EQ(get_token("\x01\x7f\x80x", buf, sizeof buf), 2);  // 1 and 128 separate, 127 does not
  EXPECT_STREQ(buf, "\x7f");
  EXPECT_EQ(get_token("\x80x", buf, sizeof buf), 2);
  EXPECT_STREQ(buf, "x");
  EXPECT_EQ(get_token("\"a b\" c", buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "a b");
  EXPECT_EQ(get_token("\"x\\\\\\y\"", buf, sizeof buf), 7);  // a run of backslashes collapses to one
  EXPECT_STREQ(buf, "x\\y");
  EXPECT_EQ(get_token("\"x\\\"y", buf, sizeof buf), 4);  // a marked quote still ends the token
  EXPECT_STREQ(buf, "x");
  EXPECT_EQ(get_token("\"open", buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "open");
  EXPECT_EQ(get_token("abcdefghijklmnopqrstuvwxyz!", buf, 8), 27);  // consumed, cut to 7
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(get_token(nullptr, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  buf[0] = 'q';
  EXPECT_EQ(get_token("abc", buf, 0), 0);
  EXPECT_EQ(buf[0], 'q');
  EXPECT_EQ(get_token("   ", buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "");
}

TEST(GLExtensionsRegistry, QueriesWholeTokensOnly) {
  FakeDriver d;
  d.extensions = "GL_NV_texture_shader2 GL_ARB_multitexture  GL_EXT_bgra";
  EXPECT_EQ(d.QueryExtension("GL_NV_texture_shader"), 0);
  EXPECT_EQ(d.QueryExtension("GL_NV_texture_shader2"), 1);
  EXPECT_EQ(d.QueryExtension("GL_EXT_bgra"), 1);
  EXPECT_EQ(d.QueryExtension("gl_ext_bgra"), 0);
  EXPECT_EQ(d.QueryExtension("GL_ARB_multitexture GL_EXT_bgra"), 0);
  EXPECT_EQ(d.QueryExtension(""), 0);
  EXPECT_EQ(d.QueryExtension(nullptr), 0);
  d.noContext = true;
  EXPECT_EQ(d.QueryExtension("GL_EXT_bgra"), 0);
}

TEST(GLExtensionsRegistry, VersionParse) {
  struct Case {
    const char* text;
    double version;
  };
  for (Case c : {Case{"2.1 Fake Vendor", 2.1}, Case{"1.5.8", 1.5}, Case{"4.5 (Compatibility Profile) Mesa 22.3.6", 4.5},
                 Case{"3", 3.0}, Case{"", 0.0}, Case{"vendor", 0.0}}) {
    FakeDriver d;
    d.version = c.text;
    d.FindSupportedExtensions();
    EXPECT_DOUBLE_EQ(d.glVersion, c.version) << c.text;
  }
}

TEST(GLExtensionsRegistry, LoadersAreGatedAndCompressionIsAllOrNothing) {
  FakeDriver d;
  d.extensions = "GL_ARB_multitexture GL_ARB_shader_objects GL_EXT_texture_compression_s3tc";
  d.entryPoints = {"glActiveTextureARB", "glMultiTexCoord2fARB", "glUseProgramObjectARB", "glBindFramebufferEXT"};
  for (const char* n : kCompression) d.entryPoints.insert(n);
  d.Initialize();
  EXPECT_STREQ(d.rendererName, "fake renderer");
  EXPECT_EQ(d.maxTextureSize, 8192);
  EXPECT_EQ(d.maxRenderbufferSize, 0);
  EXPECT_EQ(d.ARB_multitexture, 1);
  EXPECT_EQ(d.ARB_shader_objects, 1);
  EXPECT_EQ(d.EXT_texture_compression_s3tc, 1);
  EXPECT_EQ(d.EXT_framebuffer_object, 0);
  EXPECT_EQ(d.ARB_texture_compression, 1);
  EXPECT_NE(d.glActiveTextureARB, nullptr);
  EXPECT_EQ(d.glClientActiveTextureARB, nullptr);  // a missing entry point leaves its slot empty, flag stays
  EXPECT_NE(d.glMultiTexCoord2fARB, nullptr);
  EXPECT_NE(d.glUseProgramObjectARB, nullptr);
  EXPECT_EQ(d.glBindFramebufferEXT, nullptr);  // gated: the flag is 0, so not even looked up
  EXPECT_NE(d.glCompressedTexImage2D, nullptr);

  // One of the seven missing: all seven slots cleared, flag 0.
  for (const char* missing : kCompression) {
    FakeDriver p;
    p.extensions = d.extensions;
    p.entryPoints = d.entryPoints;
    p.entryPoints.erase(missing);
    p.Initialize();
    EXPECT_EQ(p.ARB_texture_compression, 0) << missing;
    EXPECT_EQ(p.glCompressedTexImage2D, nullptr) << missing;
    EXPECT_EQ(p.glCompressedTexSubImage2D, nullptr) << missing;
    EXPECT_EQ(p.glGetCompressedTexImage, nullptr) << missing;
  }

  // A resolver that answers every name (as EGL's does): the compression
  // entry points are trusted only from OpenGL 1.3 or with the extension
  // advertised; the gated loaders only with their extension.
  for (const char* version : {"1.2 Old", "1.2 Old with extension", "1.3 Core"}) {
    struct AnyName : FakeDriver {
      void* GetProcAddress(const char*) override {
        static char stub;
        return &stub;
      }
    } any;
    any.version = version;
    const bool listed = std::strstr(version, "extension") != nullptr;
    any.extensions = listed ? "GL_ARB_texture_compression" : "GL_ARB_multitexture";
    any.Initialize();
    const bool trusted = listed || std::strncmp(version, "1.3", 3) == 0;
    EXPECT_EQ(any.ARB_texture_compression, trusted ? 1 : 0) << version;
    EXPECT_EQ(any.glCompressedTexSubImage2D != nullptr, trusted) << version;
    EXPECT_EQ(any.glBindFramebufferEXT, nullptr) << version;
  }

  // Only the gated loaders whose flag is set look anything up: each name is
  // asked for once, no framebuffer function (its extension is absent), and
  // the entry points of multitexture, shader objects and compression are.
  FakeDriver count;
  count.extensions = d.extensions;
  count.Initialize();
  EXPECT_EQ(size_t(count.lookups), count.asked.size());
  for (const std::string& name : count.asked) {
    EXPECT_EQ(name.find("ramebuffer"), std::string::npos) << name;
    EXPECT_EQ(name.find("enderbuffer"), std::string::npos) << name;
  }
  for (const char* name : {"glActiveTextureARB", "glMultiTexCoord2fARB", "glCreateProgramObjectARB",
                           "glUseProgramObjectARB", "glCompressedTexImage2D"})
    EXPECT_EQ(count.asked.count(name), 1u) << name;
}
