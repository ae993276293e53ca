# The x86-64 Windows test build compiles the 32-bit deliverable's sources:
#   cmake -DNARROW=<32-bit build>/ORXWin32-sources.txt -DWIDE=<x86-64 build>/ORXWin32-sources.txt -P CompareSources.cmake
# Every source of the 32-bit build is in the x86-64 build's list, and the
# x86-64 build adds only the vector kernels that need x86-64 or a 32-byte
# aligned stack (core/Blocks/*AVX2.cpp, core/Frames/*AVX2.cpp and *SSSE3.cpp;
# docs/ARCHITECTURE.md).
cmake_minimum_required(VERSION 3.25)
foreach(v NARROW WIDE)
  if(NOT EXISTS "${${v}}")
    message(FATAL_ERROR "${${v}} is missing: configure both Windows builds first (make test-win does)")
  endif()
  file(STRINGS "${${v}}" ${v}_LIST)
endforeach()
if(NOT "quicktime/windows/QuickTimeStubs.cpp" IN_LIST NARROW_LIST)
  message(FATAL_ERROR "${NARROW} does not list the deliverable's sources")
endif()

set(problems "")
foreach(s ${NARROW_LIST})
  if(NOT s IN_LIST WIDE_LIST)
    string(APPEND problems "  ${s}: in the 32-bit build only\n")
  endif()
endforeach()
set(extra "")
foreach(s ${WIDE_LIST})
  if(NOT s IN_LIST NARROW_LIST)
    if(s MATCHES "^core/(Blocks|Frames)/[A-Za-z0-9]+(AVX2|SSSE3)\\.cpp$")
      list(APPEND extra ${s})
    else()
      string(APPEND problems "  ${s}: in the x86-64 build only\n")
    endif()
  endif()
endforeach()
if(NOT problems STREQUAL "")
  message(FATAL_ERROR "The two Windows builds compile different sources:\n${problems}")
endif()
list(LENGTH NARROW_LIST n)
message(STATUS "Both Windows builds compile the deliverable's ${n} sources; the x86-64 build adds ${extra}")
