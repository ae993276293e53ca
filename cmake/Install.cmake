# What `cmake --install` puts under the prefix P:
#   P/bin/orx                       the program (RUNPATH $ORIGIN/../lib/orx for
#                                   the host, and back to liborx in P/lib)
#   P/lib/orx/                      libqthost.so, ORXCodec.so, ORXCodec.rsrc:
#                                   the host looks for components beside itself
#   P/<GStreamer's plug-in folder>  libgstorx.so (RUNPATH back to liborx in
#                                   P/lib, the SDK's library folder);
#                                   the folder is the one GStreamer's own
#                                   plug-ins use, relative to its prefix
#                                   (lib/x86_64-linux-gnu/gstreamer-1.0 on
#                                   Debian), so installing to /usr needs no
#                                   GST_PLUGIN_PATH
#   P/share/man/man1/orx.1, P/share/doc/orx/{README.md,LICENSE}, and the
#   documents the README links for the SDK, P/share/doc/orx/docs/{API.md,
#   FRAME-FORMAT.md} (where the README's and API.md's links find them)
# Every RUNPATH is relative, so the installed tree can be moved as a whole.
include(GNUInstallDirs)

set(ORX_INSTALL_LIBDIR lib/orx CACHE STRING "where the host library and the component go, under the prefix")

if(NOT DEFINED ORX_INSTALL_GST_PLUGINDIR)
  pkg_get_variable(ORX_GST_SYSTEM_PLUGINDIR gstreamer-1.0 pluginsdir)
  pkg_get_variable(ORX_GST_SYSTEM_PREFIX gstreamer-1.0 prefix)
  if(ORX_GST_SYSTEM_PLUGINDIR AND ORX_GST_SYSTEM_PREFIX)
    file(RELATIVE_PATH ORX_GST_RELATIVE_PLUGINDIR ${ORX_GST_SYSTEM_PREFIX} ${ORX_GST_SYSTEM_PLUGINDIR})
  else()
    set(ORX_GST_RELATIVE_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/gstreamer-1.0)
  endif()
  set(ORX_INSTALL_GST_PLUGINDIR ${ORX_GST_RELATIVE_PLUGINDIR} CACHE STRING
      "where the GStreamer plug-in goes, under the prefix")
endif()

file(RELATIVE_PATH ORX_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${ORX_INSTALL_LIBDIR})
file(RELATIVE_PATH ORX_GST_TO_LIBORX /${ORX_INSTALL_GST_PLUGINDIR} /${CMAKE_INSTALL_LIBDIR})

file(RELATIVE_PATH ORX_BIN_TO_LIBORX /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(orx PROPERTIES INSTALL_RPATH "$ORIGIN/${ORX_BIN_TO_LIB};$ORIGIN/${ORX_BIN_TO_LIBORX}")
set_target_properties(ORXCodec qthost PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS orx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS qthost ORXCodec LIBRARY DESTINATION ${ORX_INSTALL_LIBDIR})
install(FILES ${ORX_COMPONENT_DIR}/ORXCodec.rsrc DESTINATION ${ORX_INSTALL_LIBDIR})
if(ORX_HAVE_GST_PLUGIN)
  set_target_properties(gstorx PROPERTIES INSTALL_RPATH "$ORIGIN/${ORX_GST_TO_LIBORX}")
  install(TARGETS gstorx LIBRARY DESTINATION ${ORX_INSTALL_GST_PLUGINDIR})
  # Where orx looks for the plug-in, relative to itself, to tell a user whose
  # GStreamer lacks it which folder GST_PLUGIN_PATH should name: the build's
  # folder, then the installed one.
  file(RELATIVE_PATH ORX_BUILD_BIN_TO_GST ${PROJECT_BINARY_DIR}/app ${ORX_GST_PLUGIN_DIR})
  file(RELATIVE_PATH ORX_BIN_TO_GST /${CMAKE_INSTALL_BINDIR} /${ORX_INSTALL_GST_PLUGINDIR})
  target_compile_definitions(orx PRIVATE ORX_GST_PLUGIN_DIRS="${ORX_BUILD_BIN_TO_GST}:${ORX_BIN_TO_GST}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/orx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orx)
install(FILES ${PROJECT_SOURCE_DIR}/docs/API.md ${PROJECT_SOURCE_DIR}/docs/FRAME-FORMAT.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/orx/docs)
