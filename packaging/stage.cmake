# Run by CPack on the staged packages, before they are packed, for what Debian asks of a
# package that a plain installation need not do. Each package is staged in a folder of its
# own under CPACK_TEMPORARY_DIRECTORY.

# A link from one top-level folder to another (/usr/bin to /opt) is absolute; an installed
# tree keeps relative ones, so that a copy of it still points at its own programs.
file(GLOB links LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*")
foreach(link IN LISTS links)
  if(IS_SYMLINK "${link}")
    file(READ_SYMLINK "${link}" target)
    if(target MATCHES "^\\.\\./\\.\\./(opt/.*)$")
      file(REMOVE "${link}")
      file(CREATE_LINK "/${CMAKE_MATCH_1}" "${link}" SYMBOLIC)
    endif()
  endif()
endforeach()

# The programs are stripped at install (CPACK_STRIP_FILES); the compiler's notes go too.
file(GLOB programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*/opt/vandrelsql/*")
foreach(program IN LISTS programs)
  if(NOT IS_SYMLINK "${program}")
    file(READ "${program}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      execute_process(COMMAND "${CPACK_VANDREL_STRIP}" --remove-section=.comment
                              --remove-section=.note "${program}"
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endif()
endforeach()
