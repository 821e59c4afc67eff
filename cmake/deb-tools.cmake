# Run by cpack before it makes the Debian package: without `file` CPack
# cannot tell the programs from the other files, and without dpkg-shlibdeps
# it would quietly leave out every library the programs need.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(_file_program file)
find_program(_shlibdeps_program dpkg-shlibdeps)
set(_missing "")
if(NOT _file_program)
  list(APPEND _missing "file (package file)")
endif()
if(NOT _shlibdeps_program)
  list(APPEND _missing "dpkg-shlibdeps (package dpkg-dev)")
endif()
if(_missing)
  list(JOIN _missing ", " _missing)
  message(FATAL_ERROR "The Debian package cannot be made without ${_missing}: "
                      "install them with `sudo apt-get install file dpkg-dev`, "
                      "or make the package with scripts/make-deb.sh, which does.")
endif()
