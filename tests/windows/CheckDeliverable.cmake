# The Windows deliverable as the loader will see it, read with objdump and
# checked without running it (so also where Wine cannot start):
#   cmake -DOBJDUMP=... -DLIBRARY=ORXWin32.qtx -DRESOURCES=ORXCodec.rsrc -DBITS=32|64 -P CheckDeliverable.cmake
# A DLL of the build's machine type (PE32 for i686, PE32+ for the x86-64 test
# build); exactly its three exports; imports from the system's libraries only
# (QuickTime is bound at run time, the C++ runtime is linked in); and the
# component resources as the RCDATA resource "RESOURCEFORK", of the size of
# the resource file it was made from.
cmake_minimum_required(VERSION 3.25)
foreach(v OBJDUMP LIBRARY RESOURCES BITS)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "CheckDeliverable.cmake needs -D${v}=...")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed: ${err}")
endif()

set(problems "")

if(BITS EQUAL 32)
  set(format "pei-i386")
  set(magic "010b[ \t]+\\(PE32\\)")
else()
  set(format "pei-x86-64")
  set(magic "020b[ \t]+\\(PE32\\+\\)")
endif()
string(REGEX MATCH "file format ([^\n]+)" m "${dump}")
if(NOT CMAKE_MATCH_1 STREQUAL format)
  string(APPEND problems "  file format '${CMAKE_MATCH_1}', want '${format}'\n")
endif()
if(NOT dump MATCHES "\nMagic[ \t]+${magic}")
  string(APPEND problems "  the optional header's magic is not that of ${format}\n")
endif()
# The characteristics' names follow their word, one a line.
if(NOT dump MATCHES "\nCharacteristics 0x[0-9a-f]+\n([ \t]+[^\n]+\n)*[ \t]+DLL\n")
  string(APPEND problems "  not marked as a DLL\n")
endif()

# The export names: the lines of the [Ordinal/Name Pointer] Table.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
set(exports "")
if(at GREATER -1)
  # Its lines: "[   0] NAME", up to the blank line that ends it.
  string(SUBSTRING "${dump}" ${at} -1 table)
  string(FIND "${table}" "\n" eol)
  math(EXPR eol "${eol} + 1")
  string(SUBSTRING "${table}" ${eol} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  # The name is the one word of a line that starts with a letter.
  string(REGEX MATCHALL "[A-Za-z_@][A-Za-z_@0-9]*\n" names "${table}\n")
  foreach(n ${names})
    string(STRIP "${n}" n)
    list(APPEND exports ${n})
  endforeach()
endif()
list(SORT exports)
if(NOT exports STREQUAL "DllMain;ORX_CComponentDispatch;ORX_DComponentDispatch")
  string(APPEND problems "  exports '${exports}', want DllMain, ORX_CComponentDispatch, ORX_DComponentDispatch\n")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(imports STREQUAL "")
  string(APPEND problems "  no import table\n")
endif()
foreach(i ${imports})
  string(REGEX REPLACE "DLL Name: " "" i "${i}")
  string(TOUPPER "${i}" upper)
  if(NOT upper MATCHES "^(KERNEL32|USER32|GDI32|ADVAPI32|VERSION|OPENGL32|MSVCRT)\\.DLL$")
    string(APPEND problems "  imports ${i}, which is not a library of the system\n")
  endif()
endforeach()

file(SIZE ${RESOURCES} rsrcSize)
# The resource directory: the type entry 0x0a (RCDATA), its name table, the
# entry named RESOURCEFORK, its language table, then the leaf with the size.
string(REGEX MATCH "Entry: ID: 0x00000a, [^\n]*\n[^\n]*Name Table:[^\n]*\n[^\n]*Entry: name: [^\n]*: RESOURCEFORK, [^\n]*\n[^\n]*Language Table:[^\n]*\n[^\n]*Entry: [^\n]*\n[ \t0-9a-f]*Leaf: Addr: 0x[0-9a-f]+, Size: 0x([0-9a-f]+)" m "${dump}")
if(m STREQUAL "")
  string(APPEND problems "  no RCDATA resource named RESOURCEFORK\n")
else()
  math(EXPR leafSize "0x${CMAKE_MATCH_1}")
  if(NOT leafSize EQUAL rsrcSize)
    string(APPEND problems "  RESOURCEFORK holds ${leafSize} bytes, ${RESOURCES} has ${rsrcSize}\n")
  endif()
endif()

if(NOT problems STREQUAL "")
  message(FATAL_ERROR "${LIBRARY}:\n${problems}")
endif()
message(STATUS "${LIBRARY}: ${format} DLL exporting ${exports}; the component resources inside (${rsrcSize} bytes)")
