# Writes orx.pc at install time, naming the prefix given then (cmake
# --install --prefix). Set by the install code: ORX_PC_LIBDIR and
# ORX_PC_INCLUDEDIR (relative to the prefix), ORX_PC_VERSION,
# ORX_PC_SYSTEM_LIBDIRS (the folders the dynamic loader searches by itself)
# and ORX_PC_TEMPLATE.
#
# A program linked with `pkg-config --libs orx` must find liborx.so.1 when
# it starts. Where the library lands outside the loader's own folders, Libs
# carries a run-time search path to it, as the variable rpath states.
set(ORX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
cmake_path(SET _orx_pc_libdir NORMALIZE "${CMAKE_INSTALL_PREFIX}/${ORX_PC_LIBDIR}")
string(REGEX REPLACE "(.)/+$" "\\1" _orx_pc_libdir "${_orx_pc_libdir}")
list(FIND ORX_PC_SYSTEM_LIBDIRS "${_orx_pc_libdir}" _orx_pc_system)
if(_orx_pc_system GREATER -1)
  set(ORX_PC_RPATH "")
  set(ORX_PC_RPATH_FLAG "")
else()
  set(ORX_PC_RPATH "\${libdir}")
  set(ORX_PC_RPATH_FLAG "-Wl,-rpath,\${rpath} ")
endif()
set(_orx_pc "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ORX_PC_LIBDIR}/pkgconfig/orx.pc")
configure_file("${ORX_PC_TEMPLATE}" "${_orx_pc}" @ONLY)
message(STATUS "Installing: ${_orx_pc}")
