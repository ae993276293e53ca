# What the Windows build takes from Debian: stb_dxt's header (libstb-dev),
# liblzf built from Debian's source package (there is no mingw build of it;
# scripts/fetch-lzf-source.sh unpacks it into ORX_LZF_SOURCE_DIR), and
# GoogleTest built from Debian's sources (googletest, /usr/src/googletest).
find_path(ORX_STB_INCLUDE_DIR stb_dxt.h PATHS /usr/include/stb NO_CMAKE_FIND_ROOT_PATH REQUIRED)
# Debian's libstb carries the compiled implementation on Linux; here one
# translation unit compiles the header's implementation.
add_library(orxstb STATIC ${CMAKE_CURRENT_LIST_DIR}/StbDxt.c)
target_include_directories(orxstb SYSTEM PUBLIC ${ORX_STB_INCLUDE_DIR})
target_compile_options(orxstb PRIVATE -w)
add_library(PkgConfig::STB ALIAS orxstb)

set(ORX_LZF_SOURCE_DIR "" CACHE PATH "Unpacked liblzf source (scripts/fetch-lzf-source.sh)")
if(NOT EXISTS "${ORX_LZF_SOURCE_DIR}/lzf_c.c")
  message(FATAL_ERROR "ORX_LZF_SOURCE_DIR must name the unpacked liblzf source (run scripts/fetch-lzf-source.sh)")
endif()
add_library(orxlzf STATIC ${ORX_LZF_SOURCE_DIR}/lzf_c.c ${ORX_LZF_SOURCE_DIR}/lzf_d.c)
# The upstream header declares C functions without C++ linkage guards (the
# Debian package adds them): a wrapper gives C++ callers the C names.
file(WRITE ${CMAKE_BINARY_DIR}/lzf-include/lzf.h
  "#pragma once\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n#include \"${ORX_LZF_SOURCE_DIR}/lzf.h\"\n#ifdef __cplusplus\n}\n#endif\n")
target_include_directories(orxlzf SYSTEM PUBLIC ${CMAKE_BINARY_DIR}/lzf-include)
target_compile_options(orxlzf PRIVATE -w)  # third-party code, built as its authors ship it
# Its 64-bit Windows branch spells the 64-bit integer as the Microsoft
# compiler does; mingw-w64 knows it as __int64.
target_compile_definitions(orxlzf PRIVATE _int64=__int64)
add_library(liblzf::liblzf ALIAS orxlzf)

if(ORX_BUILD_TESTS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
