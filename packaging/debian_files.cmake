# CPack runs this in the .deb's staging folder after the install and before
# the packing (CPACK_PRE_BUILD_SCRIPTS): what Debian asks of a package beyond
# what "cmake --install" puts in place. file(COPY), not file(INSTALL): the
# staging install's DESTDIR is still set here.
set(usr "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${usr}/share/doc/korvane")
set(page "${usr}/share/man/man1/korvane.1")
if(NOT EXISTS "${page}")
  message(FATAL_ERROR "no manual page at ${page}")
endif()

# The changelog's newest entry must be the version being packed.
file(STRINGS "${CPACK_KORVANE_DEBIAN_CHANGELOG}" top LIMIT_COUNT 1)
if(NOT top MATCHES "^korvane \\(([^)]+)\\) ")
  message(FATAL_ERROR "${CPACK_KORVANE_DEBIAN_CHANGELOG}: no entry at the top")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CPACK_DEBIAN_PACKAGE_VERSION)
  message(FATAL_ERROR "${CPACK_KORVANE_DEBIAN_CHANGELOG} begins with "
          "${CMAKE_MATCH_1}, not ${CPACK_DEBIAN_PACKAGE_VERSION}: add an "
          "entry for the version being packed")
endif()

file(COPY "${CPACK_KORVANE_DEBIAN_COPYRIGHT}" "${CPACK_KORVANE_DEBIAN_CHANGELOG}"
     DESTINATION "${doc}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                           GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# CPack's strip keeps the compiler's notes, which nothing reads.
execute_process(COMMAND "${CPACK_KORVANE_STRIP}" --remove-section=.comment
                        --remove-section=.note "${usr}/bin/korvane"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "strip ${usr}/bin/korvane: ${status}")
endif()

# Pages and changelogs are kept compressed with gzip's best level and no
# time stamp, so that two builds of the same sources give the same bytes.
foreach(file "${page}" "${doc}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${file}: ${status}")
  endif()
endforeach()
