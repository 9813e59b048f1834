# Debian's hardening flags (fortify, stack protector, relro, bindnow), as dpkg-buildflags
# gives them, for every target of the project. The build type keeps choosing optimisation
# and debug information; fortify needs an optimised build, so a Debug build goes without it.
find_program(VANDREL_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT VANDREL_DPKG_BUILDFLAGS)
  message(WARNING "dpkg-buildflags not found (package dpkg-dev): building without hardening")
  return()
endif()

function(vandrel_buildflags out kind)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${VANDREL_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  # The path map would make each checkout's compile cache its own.
  list(FILTER flags EXCLUDE REGEX "^(-g|-O[0-9s]?|-ffile-prefix-map=.*)$")
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    list(FILTER flags EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
  endif()
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

vandrel_buildflags(cppflags CPPFLAGS)
vandrel_buildflags(cxxflags CXXFLAGS)
vandrel_buildflags(ldflags LDFLAGS)
target_compile_options(vandrel_options INTERFACE ${cppflags} ${cxxflags})
target_link_options(vandrel_options INTERFACE ${ldflags})
