# Debian's build flags for every build type but Debug: the preprocessor,
# compiler and linker flags that dpkg-buildflags gives a package build with
# all hardening features on (fortified C library calls, stack protector,
# format-string checks, relocations resolved at start-up and then read-only,
# PIE, which Debian's gcc makes by default) and with the source folder's path
# mapped to "." (the same binary from any checkout). The optimisation and
# debug-information flags stay those of the build type. The sanitizer build
# leaves out _FORTIFY_SOURCE: it swaps the C library calls that
# AddressSanitizer intercepts for checked variants that it does not, which
# would hide faults from it.
option(COBRIX_DEBIAN_FLAGS "Build with Debian's hardening flags (dpkg-buildflags) except in Debug builds" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(COBRIX_DEBIAN_FLAGS AND NOT DPKG_BUILDFLAGS)
  message(WARNING "dpkg-buildflags (package dpkg-dev) not found: building without Debian's hardening flags")
elseif(COBRIX_DEBIAN_FLAGS)
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(debian_${kind} UNIX_COMMAND "${flags}")
  endforeach()
  list(FILTER debian_CXXFLAGS EXCLUDE REGEX "^-(g|O.*)$")
  if(COBRIX_SANITIZE)
    list(FILTER debian_CPPFLAGS EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
  endif()
  list(JOIN debian_CPPFLAGS " " cppflags)
  list(JOIN debian_CXXFLAGS " " cxxflags)
  list(JOIN debian_LDFLAGS " " ldflags)
  foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
    string(APPEND CMAKE_CXX_FLAGS_${config} " ${cppflags} ${cxxflags}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS_${config} " ${ldflags}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS_${config} " ${ldflags}")
  endforeach()
  message(STATUS "Debian build flags: ${cppflags} ${cxxflags} ${ldflags}")
endif()
