# Run by cpack after it has made the Debian package: a package whose Depends
# lack the linked libraries installs fine and then fails to start, so it is
# removed and the run fails instead. CPACK_VISTREL_REQUIRED_DEPENDS holds one
# regular expression per library that must be named.
foreach(_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT _package MATCHES "\\.deb$")
    continue()
  endif()
  execute_process(COMMAND dpkg-deb --field "${_package}" Depends
                  OUTPUT_VARIABLE _depends OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE _status)
  set(_absent "")
  foreach(_library IN LISTS CPACK_VISTREL_REQUIRED_DEPENDS)
    if(NOT _depends MATCHES "(^|[ ,])${_library}")
      list(APPEND _absent "${_library}")
    endif()
  endforeach()
  if(NOT _status EQUAL 0 OR _absent)
    file(REMOVE "${_package}")
    list(JOIN _absent ", " _absent)
    message(FATAL_ERROR "${_package} was removed: its dependencies \"${_depends}\" lack "
                        "${_absent}. dpkg-shlibdeps (package dpkg-dev) must see the programs.")
  endif()
  message(STATUS "Depends: ${_depends}")
endforeach()
