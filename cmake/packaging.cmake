# What `cmake --install` installs, and the packages CPack makes of it: on Linux a Debian
# package, for Windows a zip of the four programs and a short text.
include(GNUInstallDirs)
set(PROGRAMS chatserver chatclient timeserver timeclient)
set(PACKAGE_NAME sockets-tp)

set(CPACK_PACKAGE_NAME ${PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "sockets-tp developers")
set(CPACK_PACKAGE_CONTACT "sockets-tp developers <sockets-tp@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "chat over TCP and RFC 868 time service, for learning sockets")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
# The demo's and the lessons' recorded timelines (pages and pcapng captures), where
# scripts/package recorded them: for learners without Linux, a browser and Wireshark.
set(SOCKETS_TP_RECORDED "" CACHE PATH "Recorded timelines to ship in the packages")

if(WIN32)
  # The zip: the programs and their text at the top of one folder.
  install(TARGETS ${PROGRAMS} RUNTIME DESTINATION .)
  configure_file(packaging/README.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  if(SOCKETS_TP_RECORDED)
    install(DIRECTORY ${SOCKETS_TP_RECORDED}/ DESTINATION timelines)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PACKAGE_NAME}-${PROJECT_VERSION}-win64)
else()
  install(TARGETS ${PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PACKAGE_NAME})
  install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # What the README links to, beside it.
  install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
  if(SOCKETS_TP_RECORDED)
    install(DIRECTORY ${SOCKETS_TP_RECORDED}/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/timelines)
  endif()

  # Manual pages and the changelog, compressed as Debian has them (gzip -9n: no name, no
  # time stamp, so the same bytes each build).
  set(compressed)
  foreach(page ${PROGRAMS})
    configure_file(packaging/man/${page}.1 man/${page}.1 @ONLY)
    list(APPEND compressed man/${page}.1)
  endforeach()
  configure_file(packaging/changelog changelog COPYONLY)
  list(APPEND compressed changelog)
  set(gzipped)
  foreach(file ${compressed})
    add_custom_command(OUTPUT ${file}.gz
      COMMAND gzip -9nc ${file} > ${file}.gz
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${file}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    list(APPEND gzipped ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
  endforeach()
  add_custom_target(compressed_docs ALL DEPENDS ${gzipped})
  list(FILTER gzipped INCLUDE REGEX "\\.1\\.gz$")
  install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_PACKAGE_DESCRIPTION
      "Four small console programs that teach network programming with sockets,
each pair talking over the network as its protocol says: chatserver sends the
lines typed at its console to chatclient over TCP port 1609, as records of 140
bytes; timeserver answers timeclient's request on UDP port 37 with the time as
seconds since 1900 (RFC 868). The programs talk French.")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # setcap, for the postinst.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS libcap2-bin)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

include(CPack)
