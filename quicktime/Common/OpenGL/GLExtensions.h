// The codec's catalogue of what the current OpenGL implementation offers:
// renderer, limits and version, one flag per known extension (in query
// order), and the entry points of a fixed set of extensions in typed slots.
// One object per GL context; Initialize needs the context current.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#if defined(_WIN32)
#include <GL/wglext.h>
#endif

// Extensions in query order; the ARB texture compression flag sits between
// texture_border_clamp and texture_cube_map and is set by its loader only.
#define ORX_GL_EXTENSIONS(X) \
  X(ARB_depth_texture, "GL_ARB_depth_texture") \
  X(ARB_fragment_program, "GL_ARB_fragment_program") \
  X(ARB_fragment_shader, "GL_ARB_fragment_shader") \
  X(ARB_imaging, "GL_ARB_imaging") \
  X(ARB_matrix_palette, "GL_ARB_matrix_palette") \
  X(ARB_multisample, "GL_ARB_multisample") \
  X(ARB_multitexture, "GL_ARB_multitexture") \
  X(ARB_point_parameters, "GL_ARB_point_parameters") \
  X(ARB_shader_objects, "GL_ARB_shader_objects") \
  X(ARB_shadow, "GL_ARB_shadow") \
  X(ARB_shadow_ambient, "GL_ARB_shadow_ambient") \
  X(ARB_texture_border_clamp, "GL_ARB_texture_border_clamp") \
  X(ARB_texture_compression, nullptr) \
  X(ARB_texture_cube_map, "GL_ARB_texture_cube_map") \
  X(ARB_texture_env_add, "GL_ARB_texture_env_add") \
  X(ARB_texture_env_combine, "GL_ARB_texture_env_combine") \
  X(ARB_texture_env_crossbar, "GL_ARB_texture_env_crossbar") \
  X(ARB_texture_env_dot3, "GL_ARB_texture_env_dot3") \
  X(ARB_texture_mirrored_repeat, "GL_ARB_texture_mirrored_repeat") \
  X(ARB_texture_non_power_of_two, "GL_ARB_texture_non_power_of_two") \
  X(ARB_texture_rectangle, "GL_ARB_texture_rectangle") \
  X(ARB_transpose_matrix, "GL_ARB_transpose_matrix") \
  X(ARB_vertex_blend, "GL_ARB_vertex_blend") \
  X(ARB_vertex_program, "GL_ARB_vertex_program") \
  X(ARB_vertex_shader, "GL_ARB_vertex_shader") \
  X(ARB_vertex_buffer_object, "GL_ARB_vertex_buffer_object") \
  X(ARB_window_pos, "GL_ARB_window_pos") \
  X(EXT_abgr, "GL_EXT_abgr") \
  X(EXT_bgra, "GL_EXT_bgra") \
  X(EXT_blend_func_separate, "GL_EXT_blend_func_separate") \
  X(EXT_compiled_vertex_array, "GL_EXT_compiled_vertex_array") \
  X(EXT_cull_vertex, "GL_EXT_cull_vertex") \
  X(EXT_draw_range_elements, "GL_EXT_draw_range_elements") \
  X(EXT_fog_coord, "GL_EXT_fog_coord") \
  X(EXT_framebuffer_object, "GL_EXT_framebuffer_object") \
  X(EXT_multi_draw_arrays, "GL_EXT_multi_draw_arrays") \
  X(EXT_point_parameters, "GL_EXT_point_parameters") \
  X(EXT_secondary_color, "GL_EXT_secondary_color") \
  X(EXT_separate_specular_color, "GL_EXT_separate_specular_color") \
  X(EXT_shadow_funcs, "GL_EXT_shadow_funcs") \
  X(EXT_stencil_two_side, "GL_EXT_stencil_two_side") \
  X(EXT_stencil_wrap, "GL_EXT_stencil_wrap") \
  X(EXT_texture_compression_s3tc, "GL_EXT_texture_compression_s3tc") \
  X(EXT_texture_env_combine, "GL_EXT_texture_env_combine") \
  X(EXT_texture_filter_anisotropic, "GL_EXT_texture_filter_anisotropic") \
  X(EXT_texture_lod_bias, "GL_EXT_texture_lod_bias") \
  X(EXT_texture_rectangle, "GL_EXT_texture_rectangle") \
  X(EXT_vertex_shader, "GL_EXT_vertex_shader") \
  X(EXT_vertex_weighting, "GL_EXT_vertex_weighting") \
  X(ATI_element_array, "GL_ATI_element_array") \
  X(ATI_envmap_bumpmap, "GL_ATI_envmap_bumpmap") \
  X(ATI_fragment_shader, "GL_ATI_fragment_shader") \
  X(ATI_pn_triangles, "GL_ATI_pn_triangles") \
  X(ATI_point_cull_mode, "GL_ATI_point_cull_mode") \
  X(ATI_text_fragment_shader, "GL_ATI_text_fragment_shader") \
  X(ATI_texture_mirror_once, "GL_ATI_texture_mirror_once") \
  X(ATI_texture_float, "GL_ATI_texture_float") \
  X(ATI_vertex_array_object, "GL_ATI_vertex_array_object") \
  X(ATI_vertex_streams, "GL_ATI_vertex_streams") \
  X(ATIX_point_sprites, "GL_ATIX_point_sprites") \
  X(ATIX_texture_env_route, "GL_ATIX_texture_env_route") \
  X(HP_occlusion_test, "GL_HP_occlusion_test") \
  X(NV_blend_square, "GL_NV_blend_square") \
  X(NV_copy_depth_to_color, "GL_NV_copy_depth_to_color") \
  X(NV_depth_clamp, "GL_NV_depth_clamp") \
  X(NV_element_array, "GL_NV_element_array") \
  X(NV_evaluators, "GL_NV_evaluators") \
  X(NV_fence, "GL_NV_fence") \
  X(NV_float_buffer, "GL_NV_float_buffer") \
  X(NV_fog_distance, "GL_NV_fog_distance") \
  X(NV_fragment_program, "GL_NV_fragment_program") \
  X(NV_light_max_exponent, "GL_NV_light_max_exponent") \
  X(NV_occlusion_query, "GL_NV_occlusion_query") \
  X(NV_packed_depth_stencil, "GL_NV_packed_depth_stencil") \
  X(NV_pixel_data_range, "GL_NV_pixel_data_range") \
  X(NV_point_sprite, "GL_NV_point_sprite") \
  X(NV_primitive_restart, "GL_NV_primitive_restart") \
  X(NV_register_combiners, "GL_NV_register_combiners") \
  X(NV_register_combiners2, "GL_NV_register_combiners2") \
  X(NV_texgen_reflection, "GL_NV_texgen_reflection") \
  X(NV_texture_env_combine4, "GL_NV_texture_env_combine4") \
  X(NV_texture_rectangle, "GL_NV_texture_rectangle") \
  X(NV_texture_shader, "GL_NV_texture_shader") \
  X(NV_texture_shader2, "GL_NV_texture_shader2") \
  X(NV_texture_shader3, "GL_NV_texture_shader3") \
  X(NV_vertex_array_range, "GL_NV_vertex_array_range") \
  X(NV_vertex_array_range2, "GL_NV_vertex_array_range2") \
  X(NV_vertex_program, "GL_NV_vertex_program") \
  X(NV_vertex_program1_1, "GL_NV_vertex_program1_1") \
  X(NV_vertex_program2, "GL_NV_vertex_program2") \
  X(SGIS_generate_mipmap, "GL_SGIS_generate_mipmap") \
  X(SGIS_texture_lod, "GL_SGIS_texture_lod") \
  X(SGIX_depth_texture, "GL_SGIX_depth_texture") \
  X(SGIX_shadow, "GL_SGIX_shadow")

#define ORX_GL_ARB_MULTITEXTURE(X) \
  X(PFNGLACTIVETEXTUREARBPROC, glActiveTextureARB) \
  X(PFNGLCLIENTACTIVETEXTUREARBPROC, glClientActiveTextureARB) \
  X(PFNGLMULTITEXCOORD1DARBPROC, glMultiTexCoord1dARB) \
  X(PFNGLMULTITEXCOORD1DVARBPROC, glMultiTexCoord1dvARB) \
  X(PFNGLMULTITEXCOORD1FARBPROC, glMultiTexCoord1fARB) \
  X(PFNGLMULTITEXCOORD1FVARBPROC, glMultiTexCoord1fvARB) \
  X(PFNGLMULTITEXCOORD1IARBPROC, glMultiTexCoord1iARB) \
  X(PFNGLMULTITEXCOORD1IVARBPROC, glMultiTexCoord1ivARB) \
  X(PFNGLMULTITEXCOORD1SARBPROC, glMultiTexCoord1sARB) \
  X(PFNGLMULTITEXCOORD1SVARBPROC, glMultiTexCoord1svARB) \
  X(PFNGLMULTITEXCOORD2DARBPROC, glMultiTexCoord2dARB) \
  X(PFNGLMULTITEXCOORD2DVARBPROC, glMultiTexCoord2dvARB) \
  X(PFNGLMULTITEXCOORD2FARBPROC, glMultiTexCoord2fARB) \
  X(PFNGLMULTITEXCOORD2FVARBPROC, glMultiTexCoord2fvARB) \
  X(PFNGLMULTITEXCOORD2IARBPROC, glMultiTexCoord2iARB) \
  X(PFNGLMULTITEXCOORD2IVARBPROC, glMultiTexCoord2ivARB) \
  X(PFNGLMULTITEXCOORD2SARBPROC, glMultiTexCoord2sARB) \
  X(PFNGLMULTITEXCOORD2SVARBPROC, glMultiTexCoord2svARB) \
  X(PFNGLMULTITEXCOORD3DARBPROC, glMultiTexCoord3dARB) \
  X(PFNGLMULTITEXCOORD3DVARBPROC, glMultiTexCoord3dvARB) \
  X(PFNGLMULTITEXCOORD3FARBPROC, glMultiTexCoord3fARB) \
  X(PFNGLMULTITEXCOORD3FVARBPROC, glMultiTexCoord3fvARB) \
  X(PFNGLMULTITEXCOORD3IARBPROC, glMultiTexCoord3iARB) \
  X(PFNGLMULTITEXCOORD3IVARBPROC, glMultiTexCoord3ivARB) \
  X(PFNGLMULTITEXCOORD3SARBPROC, glMultiTexCoord3sARB) \
  X(PFNGLMULTITEXCOORD3SVARBPROC, glMultiTexCoord3svARB) \
  X(PFNGLMULTITEXCOORD4DARBPROC, glMultiTexCoord4dARB) \
  X(PFNGLMULTITEXCOORD4DVARBPROC, glMultiTexCoord4dvARB) \
  X(PFNGLMULTITEXCOORD4FARBPROC, glMultiTexCoord4fARB) \
  X(PFNGLMULTITEXCOORD4FVARBPROC, glMultiTexCoord4fvARB) \
  X(PFNGLMULTITEXCOORD4IARBPROC, glMultiTexCoord4iARB) \
  X(PFNGLMULTITEXCOORD4IVARBPROC, glMultiTexCoord4ivARB) \
  X(PFNGLMULTITEXCOORD4SARBPROC, glMultiTexCoord4sARB) \
  X(PFNGLMULTITEXCOORD4SVARBPROC, glMultiTexCoord4svARB)

#define ORX_GL_ARB_TEXTURE_COMPRESSION(X) \
  X(PFNGLCOMPRESSEDTEXIMAGE1DPROC, glCompressedTexImage1D) \
  X(PFNGLCOMPRESSEDTEXIMAGE2DPROC, glCompressedTexImage2D) \
  X(PFNGLCOMPRESSEDTEXIMAGE3DPROC, glCompressedTexImage3D) \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE1DPROC, glCompressedTexSubImage1D) \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE2DPROC, glCompressedTexSubImage2D) \
  X(PFNGLCOMPRESSEDTEXSUBIMAGE3DPROC, glCompressedTexSubImage3D) \
  X(PFNGLGETCOMPRESSEDTEXIMAGEPROC, glGetCompressedTexImage)

#define ORX_GL_ARB_VERTEX_BUFFER_OBJECT(X) \
  X(PFNGLBINDBUFFERARBPROC, glBindBufferARB) \
  X(PFNGLDELETEBUFFERSARBPROC, glDeleteBuffersARB) \
  X(PFNGLGENBUFFERSARBPROC, glGenBuffersARB) \
  X(PFNGLISBUFFERARBPROC, glIsBufferARB) \
  X(PFNGLBUFFERDATAARBPROC, glBufferDataARB) \
  X(PFNGLBUFFERSUBDATAARBPROC, glBufferSubDataARB) \
  X(PFNGLGETBUFFERSUBDATAARBPROC, glGetBufferSubDataARB) \
  X(PFNGLMAPBUFFERARBPROC, glMapBufferARB) \
  X(PFNGLUNMAPBUFFERARBPROC, glUnmapBufferARB) \
  X(PFNGLGETBUFFERPARAMETERIVARBPROC, glGetBufferParameterivARB) \
  X(PFNGLGETBUFFERPOINTERVARBPROC, glGetBufferPointervARB)

#define ORX_GL_ARB_VERTEX_PROGRAM(X) \
  X(PFNGLVERTEXATTRIB1SARBPROC, glVertexAttrib1sARB) \
  X(PFNGLVERTEXATTRIB1FARBPROC, glVertexAttrib1fARB) \
  X(PFNGLVERTEXATTRIB1DARBPROC, glVertexAttrib1dARB) \
  X(PFNGLVERTEXATTRIB2SARBPROC, glVertexAttrib2sARB) \
  X(PFNGLVERTEXATTRIB2FARBPROC, glVertexAttrib2fARB) \
  X(PFNGLVERTEXATTRIB2DARBPROC, glVertexAttrib2dARB) \
  X(PFNGLVERTEXATTRIB3SARBPROC, glVertexAttrib3sARB) \
  X(PFNGLVERTEXATTRIB3FARBPROC, glVertexAttrib3fARB) \
  X(PFNGLVERTEXATTRIB3DARBPROC, glVertexAttrib3dARB) \
  X(PFNGLVERTEXATTRIB4SARBPROC, glVertexAttrib4sARB) \
  X(PFNGLVERTEXATTRIB4FARBPROC, glVertexAttrib4fARB) \
  X(PFNGLVERTEXATTRIB4DARBPROC, glVertexAttrib4dARB) \
  X(PFNGLVERTEXATTRIB4NUBARBPROC, glVertexAttrib4NubARB) \
  X(PFNGLVERTEXATTRIB1SVARBPROC, glVertexAttrib1svARB) \
  X(PFNGLVERTEXATTRIB1FVARBPROC, glVertexAttrib1fvARB) \
  X(PFNGLVERTEXATTRIB1DVARBPROC, glVertexAttrib1dvARB) \
  X(PFNGLVERTEXATTRIB2SVARBPROC, glVertexAttrib2svARB) \
  X(PFNGLVERTEXATTRIB2FVARBPROC, glVertexAttrib2fvARB) \
  X(PFNGLVERTEXATTRIB2DVARBPROC, glVertexAttrib2dvARB) \
  X(PFNGLVERTEXATTRIB3SVARBPROC, glVertexAttrib3svARB) \
  X(PFNGLVERTEXATTRIB3FVARBPROC, glVertexAttrib3fvARB) \
  X(PFNGLVERTEXATTRIB3DVARBPROC, glVertexAttrib3dvARB) \
  X(PFNGLVERTEXATTRIB4BVARBPROC, glVertexAttrib4bvARB) \
  X(PFNGLVERTEXATTRIB4SVARBPROC, glVertexAttrib4svARB) \
  X(PFNGLVERTEXATTRIB4IVARBPROC, glVertexAttrib4ivARB) \
  X(PFNGLVERTEXATTRIB4UBVARBPROC, glVertexAttrib4ubvARB) \
  X(PFNGLVERTEXATTRIB4USVARBPROC, glVertexAttrib4usvARB) \
  X(PFNGLVERTEXATTRIB4UIVARBPROC, glVertexAttrib4uivARB) \
  X(PFNGLVERTEXATTRIB4FVARBPROC, glVertexAttrib4fvARB) \
  X(PFNGLVERTEXATTRIB4DVARBPROC, glVertexAttrib4dvARB) \
  X(PFNGLVERTEXATTRIB4NBVARBPROC, glVertexAttrib4NbvARB) \
  X(PFNGLVERTEXATTRIB4NSVARBPROC, glVertexAttrib4NsvARB) \
  X(PFNGLVERTEXATTRIB4NIVARBPROC, glVertexAttrib4NivARB) \
  X(PFNGLVERTEXATTRIB4NUBVARBPROC, glVertexAttrib4NubvARB) \
  X(PFNGLVERTEXATTRIB4NUSVARBPROC, glVertexAttrib4NusvARB) \
  X(PFNGLVERTEXATTRIB4NUIVARBPROC, glVertexAttrib4NuivARB) \
  X(PFNGLVERTEXATTRIBPOINTERARBPROC, glVertexAttribPointerARB) \
  X(PFNGLENABLEVERTEXATTRIBARRAYARBPROC, glEnableVertexAttribArrayARB) \
  X(PFNGLDISABLEVERTEXATTRIBARRAYARBPROC, glDisableVertexAttribArrayARB) \
  X(PFNGLPROGRAMSTRINGARBPROC, glProgramStringARB) \
  X(PFNGLBINDPROGRAMARBPROC, glBindProgramARB) \
  X(PFNGLDELETEPROGRAMSARBPROC, glDeleteProgramsARB) \
  X(PFNGLGENPROGRAMSARBPROC, glGenProgramsARB) \
  X(PFNGLPROGRAMENVPARAMETER4DARBPROC, glProgramEnvParameter4dARB) \
  X(PFNGLPROGRAMENVPARAMETER4DVARBPROC, glProgramEnvParameter4dvARB) \
  X(PFNGLPROGRAMENVPARAMETER4FARBPROC, glProgramEnvParameter4fARB) \
  X(PFNGLPROGRAMENVPARAMETER4FVARBPROC, glProgramEnvParameter4fvARB) \
  X(PFNGLPROGRAMLOCALPARAMETER4DARBPROC, glProgramLocalParameter4dARB) \
  X(PFNGLPROGRAMLOCALPARAMETER4DVARBPROC, glProgramLocalParameter4dvARB) \
  X(PFNGLPROGRAMLOCALPARAMETER4FARBPROC, glProgramLocalParameter4fARB) \
  X(PFNGLPROGRAMLOCALPARAMETER4FVARBPROC, glProgramLocalParameter4fvARB) \
  X(PFNGLGETPROGRAMENVPARAMETERDVARBPROC, glGetProgramEnvParameterdvARB) \
  X(PFNGLGETPROGRAMENVPARAMETERFVARBPROC, glGetProgramEnvParameterfvARB) \
  X(PFNGLGETPROGRAMLOCALPARAMETERDVARBPROC, glGetProgramLocalParameterdvARB) \
  X(PFNGLGETPROGRAMLOCALPARAMETERFVARBPROC, glGetProgramLocalParameterfvARB) \
  X(PFNGLGETPROGRAMIVARBPROC, glGetProgramivARB) \
  X(PFNGLGETPROGRAMSTRINGARBPROC, glGetProgramStringARB) \
  X(PFNGLGETVERTEXATTRIBDVARBPROC, glGetVertexAttribdvARB) \
  X(PFNGLGETVERTEXATTRIBFVARBPROC, glGetVertexAttribfvARB) \
  X(PFNGLGETVERTEXATTRIBIVARBPROC, glGetVertexAttribivARB) \
  X(PFNGLGETVERTEXATTRIBPOINTERVARBPROC, glGetVertexAttribPointervARB) \
  X(PFNGLISPROGRAMARBPROC, glIsProgramARB)

#define ORX_GL_ARB_SHADER_OBJECTS(X) \
  X(PFNGLDELETEOBJECTARBPROC, glDeleteObjectARB) \
  X(PFNGLGETHANDLEARBPROC, glGetHandleARB) \
  X(PFNGLDETACHOBJECTARBPROC, glDetachObjectARB) \
  X(PFNGLCREATESHADEROBJECTARBPROC, glCreateShaderObjectARB) \
  X(PFNGLSHADERSOURCEARBPROC, glShaderSourceARB) \
  X(PFNGLCOMPILESHADERARBPROC, glCompileShaderARB) \
  X(PFNGLCREATEPROGRAMOBJECTARBPROC, glCreateProgramObjectARB) \
  X(PFNGLATTACHOBJECTARBPROC, glAttachObjectARB) \
  X(PFNGLLINKPROGRAMARBPROC, glLinkProgramARB) \
  X(PFNGLUSEPROGRAMOBJECTARBPROC, glUseProgramObjectARB) \
  X(PFNGLVALIDATEPROGRAMARBPROC, glValidateProgramARB) \
  X(PFNGLUNIFORM1FARBPROC, glUniform1fARB) \
  X(PFNGLUNIFORM2FARBPROC, glUniform2fARB) \
  X(PFNGLUNIFORM3FARBPROC, glUniform3fARB) \
  X(PFNGLUNIFORM4FARBPROC, glUniform4fARB) \
  X(PFNGLUNIFORM1IARBPROC, glUniform1iARB) \
  X(PFNGLUNIFORM2IARBPROC, glUniform2iARB) \
  X(PFNGLUNIFORM3IARBPROC, glUniform3iARB) \
  X(PFNGLUNIFORM4IARBPROC, glUniform4iARB) \
  X(PFNGLUNIFORM1FVARBPROC, glUniform1fvARB) \
  X(PFNGLUNIFORM2FVARBPROC, glUniform2fvARB) \
  X(PFNGLUNIFORM3FVARBPROC, glUniform3fvARB) \
  X(PFNGLUNIFORM4FVARBPROC, glUniform4fvARB) \
  X(PFNGLUNIFORM1IVARBPROC, glUniform1ivARB) \
  X(PFNGLUNIFORM2IVARBPROC, glUniform2ivARB) \
  X(PFNGLUNIFORM3IVARBPROC, glUniform3ivARB) \
  X(PFNGLUNIFORM4IVARBPROC, glUniform4ivARB) \
  X(PFNGLUNIFORMMATRIX2FVARBPROC, glUniformMatrix2fvARB) \
  X(PFNGLUNIFORMMATRIX3FVARBPROC, glUniformMatrix3fvARB) \
  X(PFNGLUNIFORMMATRIX4FVARBPROC, glUniformMatrix4fvARB) \
  X(PFNGLGETOBJECTPARAMETERFVARBPROC, glGetObjectParameterfvARB) \
  X(PFNGLGETOBJECTPARAMETERIVARBPROC, glGetObjectParameterivARB) \
  X(PFNGLGETINFOLOGARBPROC, glGetInfoLogARB) \
  X(PFNGLGETATTACHEDOBJECTSARBPROC, glGetAttachedObjectsARB) \
  X(PFNGLGETUNIFORMLOCATIONARBPROC, glGetUniformLocationARB) \
  X(PFNGLGETACTIVEUNIFORMARBPROC, glGetActiveUniformARB) \
  X(PFNGLGETUNIFORMFVARBPROC, glGetUniformfvARB) \
  X(PFNGLGETUNIFORMIVARBPROC, glGetUniformivARB) \
  X(PFNGLGETSHADERSOURCEARBPROC, glGetShaderSourceARB)

#define ORX_GL_ARB_VERTEX_SHADER(X) \
  X(PFNGLBINDATTRIBLOCATIONARBPROC, glBindAttribLocationARB) \
  X(PFNGLGETACTIVEATTRIBARBPROC, glGetActiveAttribARB) \
  X(PFNGLGETATTRIBLOCATIONARBPROC, glGetAttribLocationARB)

#if defined(_WIN32)
// Windows' gl.h stops at OpenGL 1.1: the imaging subset's pointer types come
// from glext.h.
#define ORX_GL_ARB_IMAGING(X) \
  X(PFNGLBLENDCOLORPROC, glBlendColor) \
  X(PFNGLBLENDEQUATIONPROC, glBlendEquation) \
  X(PFNGLCOLORTABLEPROC, glColorTable) \
  X(PFNGLCOLORTABLEPARAMETERFVPROC, glColorTableParameterfv) \
  X(PFNGLCOLORTABLEPARAMETERIVPROC, glColorTableParameteriv) \
  X(PFNGLCOPYCOLORTABLEPROC, glCopyColorTable) \
  X(PFNGLGETCOLORTABLEPROC, glGetColorTable) \
  X(PFNGLGETCOLORTABLEPARAMETERFVPROC, glGetColorTableParameterfv) \
  X(PFNGLGETCOLORTABLEPARAMETERIVPROC, glGetColorTableParameteriv) \
  X(PFNGLCOLORSUBTABLEPROC, glColorSubTable) \
  X(PFNGLCOPYCOLORSUBTABLEPROC, glCopyColorSubTable) \
  X(PFNGLCONVOLUTIONFILTER1DPROC, glConvolutionFilter1D) \
  X(PFNGLCONVOLUTIONFILTER2DPROC, glConvolutionFilter2D) \
  X(PFNGLCONVOLUTIONPARAMETERFPROC, glConvolutionParameterf) \
  X(PFNGLCONVOLUTIONPARAMETERFVPROC, glConvolutionParameterfv) \
  X(PFNGLCONVOLUTIONPARAMETERIPROC, glConvolutionParameteri) \
  X(PFNGLCONVOLUTIONPARAMETERIVPROC, glConvolutionParameteriv) \
  X(PFNGLCOPYCONVOLUTIONFILTER1DPROC, glCopyConvolutionFilter1D) \
  X(PFNGLCOPYCONVOLUTIONFILTER2DPROC, glCopyConvolutionFilter2D) \
  X(PFNGLGETCONVOLUTIONFILTERPROC, glGetConvolutionFilter) \
  X(PFNGLGETCONVOLUTIONPARAMETERFVPROC, glGetConvolutionParameterfv) \
  X(PFNGLGETCONVOLUTIONPARAMETERIVPROC, glGetConvolutionParameteriv) \
  X(PFNGLGETSEPARABLEFILTERPROC, glGetSeparableFilter) \
  X(PFNGLSEPARABLEFILTER2DPROC, glSeparableFilter2D) \
  X(PFNGLGETHISTOGRAMPROC, glGetHistogram) \
  X(PFNGLGETHISTOGRAMPARAMETERFVPROC, glGetHistogramParameterfv) \
  X(PFNGLGETHISTOGRAMPARAMETERIVPROC, glGetHistogramParameteriv) \
  X(PFNGLGETMINMAXPROC, glGetMinmax) \
  X(PFNGLGETMINMAXPARAMETERFVPROC, glGetMinmaxParameterfv) \
  X(PFNGLGETMINMAXPARAMETERIVPROC, glGetMinmaxParameteriv) \
  X(PFNGLHISTOGRAMPROC, glHistogram) \
  X(PFNGLMINMAXPROC, glMinmax) \
  X(PFNGLRESETHISTOGRAMPROC, glResetHistogram) \
  X(PFNGLRESETMINMAXPROC, glResetMinmax)
#else
// The imaging subset is declared by gl.h itself, without pointer types.
#define ORX_GL_ARB_IMAGING(X) \
  X(decltype(&::glBlendColor), glBlendColor) \
  X(decltype(&::glBlendEquation), glBlendEquation) \
  X(decltype(&::glColorTable), glColorTable) \
  X(decltype(&::glColorTableParameterfv), glColorTableParameterfv) \
  X(decltype(&::glColorTableParameteriv), glColorTableParameteriv) \
  X(decltype(&::glCopyColorTable), glCopyColorTable) \
  X(decltype(&::glGetColorTable), glGetColorTable) \
  X(decltype(&::glGetColorTableParameterfv), glGetColorTableParameterfv) \
  X(decltype(&::glGetColorTableParameteriv), glGetColorTableParameteriv) \
  X(decltype(&::glColorSubTable), glColorSubTable) \
  X(decltype(&::glCopyColorSubTable), glCopyColorSubTable) \
  X(decltype(&::glConvolutionFilter1D), glConvolutionFilter1D) \
  X(decltype(&::glConvolutionFilter2D), glConvolutionFilter2D) \
  X(decltype(&::glConvolutionParameterf), glConvolutionParameterf) \
  X(decltype(&::glConvolutionParameterfv), glConvolutionParameterfv) \
  X(decltype(&::glConvolutionParameteri), glConvolutionParameteri) \
  X(decltype(&::glConvolutionParameteriv), glConvolutionParameteriv) \
  X(decltype(&::glCopyConvolutionFilter1D), glCopyConvolutionFilter1D) \
  X(decltype(&::glCopyConvolutionFilter2D), glCopyConvolutionFilter2D) \
  X(decltype(&::glGetConvolutionFilter), glGetConvolutionFilter) \
  X(decltype(&::glGetConvolutionParameterfv), glGetConvolutionParameterfv) \
  X(decltype(&::glGetConvolutionParameteriv), glGetConvolutionParameteriv) \
  X(decltype(&::glGetSeparableFilter), glGetSeparableFilter) \
  X(decltype(&::glSeparableFilter2D), glSeparableFilter2D) \
  X(decltype(&::glGetHistogram), glGetHistogram) \
  X(decltype(&::glGetHistogramParameterfv), glGetHistogramParameterfv) \
  X(decltype(&::glGetHistogramParameteriv), glGetHistogramParameteriv) \
  X(decltype(&::glGetMinmax), glGetMinmax) \
  X(decltype(&::glGetMinmaxParameterfv), glGetMinmaxParameterfv) \
  X(decltype(&::glGetMinmaxParameteriv), glGetMinmaxParameteriv) \
  X(decltype(&::glHistogram), glHistogram) \
  X(decltype(&::glMinmax), glMinmax) \
  X(decltype(&::glResetHistogram), glResetHistogram) \
  X(decltype(&::glResetMinmax), glResetMinmax)
#endif

#define ORX_GL_EXT_BLEND_FUNC_SEPARATE(X) \
  X(PFNGLBLENDFUNCSEPARATEEXTPROC, glBlendFuncSeparateEXT)

#define ORX_GL_EXT_FRAMEBUFFER_OBJECT(X) \
  X(PFNGLBINDFRAMEBUFFEREXTPROC, glBindFramebufferEXT) \
  X(PFNGLBINDRENDERBUFFEREXTPROC, glBindRenderbufferEXT) \
  X(PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC, glCheckFramebufferStatusEXT) \
  X(PFNGLDELETEFRAMEBUFFERSEXTPROC, glDeleteFramebuffersEXT) \
  X(PFNGLDELETERENDERBUFFERSEXTPROC, glDeleteRenderbuffersEXT) \
  X(PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC, glFramebufferRenderbufferEXT) \
  X(PFNGLFRAMEBUFFERTEXTURE1DEXTPROC, glFramebufferTexture1DEXT) \
  X(PFNGLFRAMEBUFFERTEXTURE2DEXTPROC, glFramebufferTexture2DEXT) \
  X(PFNGLFRAMEBUFFERTEXTURE3DEXTPROC, glFramebufferTexture3DEXT) \
  X(PFNGLGENFRAMEBUFFERSEXTPROC, glGenFramebuffersEXT) \
  X(PFNGLGENRENDERBUFFERSEXTPROC, glGenRenderbuffersEXT) \
  X(PFNGLGENERATEMIPMAPEXTPROC, glGenerateMipmapEXT) \
  X(PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVEXTPROC, glGetFramebufferAttachmentParameterivEXT) \
  X(PFNGLGETRENDERBUFFERPARAMETERIVEXTPROC, glGetRenderbufferParameterivEXT) \
  X(PFNGLISFRAMEBUFFEREXTPROC, glIsFramebufferEXT) \
  X(PFNGLISRENDERBUFFEREXTPROC, glIsRenderbufferEXT) \
  X(PFNGLRENDERBUFFERSTORAGEEXTPROC, glRenderbufferStorageEXT)

#define ORX_GL_EXT_VERTEX_WEIGHTING(X) \
  X(PFNGLVERTEXWEIGHTFEXTPROC, glVertexWeightfEXT) \
  X(PFNGLVERTEXWEIGHTFVEXTPROC, glVertexWeightfvEXT) \
  X(PFNGLVERTEXWEIGHTPOINTEREXTPROC, glVertexWeightPointerEXT)

#define ORX_GL_NV_REGISTER_COMBINERS(X) \
  X(PFNGLCOMBINERPARAMETERFVNVPROC, glCombinerParameterfvNV) \
  X(PFNGLCOMBINERPARAMETERFNVPROC, glCombinerParameterfNV) \
  X(PFNGLCOMBINERPARAMETERIVNVPROC, glCombinerParameterivNV) \
  X(PFNGLCOMBINERPARAMETERINVPROC, glCombinerParameteriNV) \
  X(PFNGLCOMBINERINPUTNVPROC, glCombinerInputNV) \
  X(PFNGLCOMBINEROUTPUTNVPROC, glCombinerOutputNV) \
  X(PFNGLFINALCOMBINERINPUTNVPROC, glFinalCombinerInputNV) \
  X(PFNGLGETCOMBINERINPUTPARAMETERFVNVPROC, glGetCombinerInputParameterfvNV) \
  X(PFNGLGETCOMBINERINPUTPARAMETERIVNVPROC, glGetCombinerInputParameterivNV) \
  X(PFNGLGETCOMBINEROUTPUTPARAMETERFVNVPROC, glGetCombinerOutputParameterfvNV) \
  X(PFNGLGETCOMBINEROUTPUTPARAMETERIVNVPROC, glGetCombinerOutputParameterivNV) \
  X(PFNGLGETFINALCOMBINERINPUTPARAMETERFVNVPROC, glGetFinalCombinerInputParameterfvNV) \
  X(PFNGLGETFINALCOMBINERINPUTPARAMETERIVNVPROC, glGetFinalCombinerInputParameterivNV)

#define ORX_GL_NV_PIXEL_DATA_RANGE(X) \
  X(PFNGLPIXELDATARANGENVPROC, glPixelDataRangeNV) \
  X(PFNGLFLUSHPIXELDATARANGENVPROC, glFlushPixelDataRangeNV)

#if defined(_WIN32)
// WGL extensions in query order, after the GL list.
#define ORX_WGL_EXTENSIONS(X) \
  X(WGL_ARB_pbuffer_flag, "WGL_ARB_pbuffer") \
  X(WGL_ARB_pixel_format_flag, "WGL_ARB_pixel_format") \
  X(WGL_ARB_render_texture_flag, "WGL_ARB_render_texture") \
  X(WGL_ARB_make_current_read_flag, "WGL_ARB_make_current_read") \
  X(WGL_ATI_pixel_format_float_flag, "WGL_ATI_pixel_format_float") \
  X(WGL_ATI_render_texture_rectangle_flag, "WGL_ATI_render_texture_rectangle") \
  X(WGL_EXT_swap_control_flag, "WGL_EXT_swap_control") \
  X(WGL_NV_render_texture_rectangle_flag, "WGL_NV_render_texture_rectangle")

#define ORX_WGL_ARB_PBUFFER(X) \
  X(PFNWGLCREATEPBUFFERARBPROC, wglCreatePbufferARB) \
  X(PFNWGLGETPBUFFERDCARBPROC, wglGetPbufferDCARB) \
  X(PFNWGLRELEASEPBUFFERDCARBPROC, wglReleasePbufferDCARB) \
  X(PFNWGLDESTROYPBUFFERARBPROC, wglDestroyPbufferARB) \
  X(PFNWGLQUERYPBUFFERARBPROC, wglQueryPbufferARB)
#define ORX_WGL_ARB_PIXEL_FORMAT(X) \
  X(PFNWGLGETPIXELFORMATATTRIBIVARBPROC, wglGetPixelFormatAttribivARB) \
  X(PFNWGLGETPIXELFORMATATTRIBFVARBPROC, wglGetPixelFormatAttribfvARB) \
  X(PFNWGLCHOOSEPIXELFORMATARBPROC, wglChoosePixelFormatARB)
#define ORX_WGL_ARB_RENDER_TEXTURE(X) \
  X(PFNWGLBINDTEXIMAGEARBPROC, wglBindTexImageARB) \
  X(PFNWGLRELEASETEXIMAGEARBPROC, wglReleaseTexImageARB) \
  X(PFNWGLSETPBUFFERATTRIBARBPROC, wglSetPbufferAttribARB)
#define ORX_WGL_ARB_MAKE_CURRENT_READ(X) X(PFNWGLMAKECONTEXTCURRENTARBPROC, wglMakeContextCurrentARB)
#define ORX_WGL_EXT_SWAP_CONTROL(X) \
  X(PFNWGLSWAPINTERVALEXTPROC, wglSwapIntervalEXT) \
  X(PFNWGLGETSWAPINTERVALEXTPROC, wglGetSwapIntervalEXT)
#endif

// Next whitespace-separated (or double-quoted) token of src into buf (at
// most size - 1 bytes, always terminated); returns the bytes of src consumed.
int get_token(const char* src, char* buf, int size);

class GLExtensions {
 public:
  GLExtensions();
  virtual ~GLExtensions() = default;

  void Initialize();
  void FindSupportedExtensions();
  int QueryExtension(const char* name);
  // Linux: eglGetProcAddress; Windows: wglGetProcAddress (see the
  // implementations).
  virtual void* GetProcAddress(const char* name);
#if defined(_WIN32)
  void InitWGLExtensionsString();
  int QueryWGLExtension(const char* name);
  void InitWGLARBPbuffer();
  void InitWGLARBPixelFormat();
  void InitWGLARBRenderTexture();
  void InitWGLARBMakeCurrentRead();
  void InitWGLEXTSwapControl();
#endif

  void InitARBMultitexture();
  void InitARBTextureCompression();
  void InitARBVertexBufferObject();
  void InitARBVertexProgram();
  void InitARBShaderObjects();
  void InitARBVertexShader();
  void InitARBImaging();
  void InitEXTBlendFuncSeparate();
  void InitEXTFramebufferObject();
  void InitEXTVertexWeighting();
  void InitNVRegisterCombiners();
  void InitNVPixelDataRange();

  char rendererName[512];
  GLint maxTextureSize;
  GLint maxRenderbufferSize;
  double glVersion;

#define ORX_GL_FLAG_MEMBER(member, name) int member;
  ORX_GL_EXTENSIONS(ORX_GL_FLAG_MEMBER)
#if defined(_WIN32)
  ORX_WGL_EXTENSIONS(ORX_GL_FLAG_MEMBER)
  int WGL_ARB_extensions_string_flag;  // wglGetExtensionsStringARB resolved
  int WGL_EXT_extensions_string_flag;  // wglGetExtensionsStringEXT resolved
#endif
#undef ORX_GL_FLAG_MEMBER

#if defined(_WIN32)
  PFNWGLGETEXTENSIONSSTRINGARBPROC wglGetExtensionsStringARB = nullptr;
  PFNWGLGETEXTENSIONSSTRINGEXTPROC wglGetExtensionsStringEXT = nullptr;
#endif

#define ORX_GL_SLOT_MEMBER(type, name) type name = nullptr;
  ORX_GL_ARB_MULTITEXTURE(ORX_GL_SLOT_MEMBER)
  ORX_GL_ARB_TEXTURE_COMPRESSION(ORX_GL_SLOT_MEMBER)
  ORX_GL_ARB_VERTEX_BUFFER_OBJECT(ORX_GL_SLOT_MEMBER)
  ORX_GL_ARB_VERTEX_PROGRAM(ORX_GL_SLOT_MEMBER)
  ORX_GL_ARB_SHADER_OBJECTS(ORX_GL_SLOT_MEMBER)
  ORX_GL_ARB_VERTEX_SHADER(ORX_GL_SLOT_MEMBER)
  ORX_GL_ARB_IMAGING(ORX_GL_SLOT_MEMBER)
  ORX_GL_EXT_BLEND_FUNC_SEPARATE(ORX_GL_SLOT_MEMBER)
  ORX_GL_EXT_FRAMEBUFFER_OBJECT(ORX_GL_SLOT_MEMBER)
  ORX_GL_EXT_VERTEX_WEIGHTING(ORX_GL_SLOT_MEMBER)
  ORX_GL_NV_REGISTER_COMBINERS(ORX_GL_SLOT_MEMBER)
  ORX_GL_NV_PIXEL_DATA_RANGE(ORX_GL_SLOT_MEMBER)
#if defined(_WIN32)
  ORX_WGL_ARB_PBUFFER(ORX_GL_SLOT_MEMBER)
  ORX_WGL_ARB_PIXEL_FORMAT(ORX_GL_SLOT_MEMBER)
  ORX_WGL_ARB_RENDER_TEXTURE(ORX_GL_SLOT_MEMBER)
  ORX_WGL_ARB_MAKE_CURRENT_READ(ORX_GL_SLOT_MEMBER)
  ORX_WGL_EXT_SWAP_CONTROL(ORX_GL_SLOT_MEMBER)
#endif
#undef ORX_GL_SLOT_MEMBER

 protected:
  // The GL queries the registry makes; a context must be current.
  virtual const GLubyte* GetString(GLenum name);
  virtual void GetIntegerv(GLenum name, GLint* value);
};
