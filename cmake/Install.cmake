# Installed layout: the programs in their own folder /opt/vandrelsql (the update scripts go
# beside them), links in /usr/bin, the desktop entry, the icons, the documentation and the
# manager's folder /opt/Corvessa. Paths are relative to the prefix, which is / unless given,
# so `cmake --install build --prefix DIR` lays out a tree under DIR.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Installation prefix" FORCE)
endif()

# Two packages: vandrelsql (component core: the updater, the check and the console, no Qt)
# and vandrelsql-window (component window: the window library, the desktop entry, icons).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME core)
set(VANDREL_PROGRAM_DIR opt/vandrelsql)
set(VANDREL_DOC_DIR usr/share/doc/vandrelsql)
set(VANDREL_MAN_DIR usr/share/man/man1)

# Project libraries built shared live beside the program, found through RPATH $ORIGIN.
foreach(lib quillmere)
  if(TARGET ${lib})
    get_target_property(type ${lib} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      install(TARGETS ${lib} LIBRARY DESTINATION ${VANDREL_PROGRAM_DIR})
    endif()
  endif()
endforeach()

find_program(VANDREL_GZIP gzip REQUIRED)
# gzip -9n: the most compression, and no name or time stamp, so the same source gives the
# same package.
function(vandrel_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "\"$1\" -9nc \"$2\" >\"$3\"" sh ${VANDREL_GZIP} ${source} ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

set(packaging_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_dir})
set(packaging_outputs)

# Each program: the executable, its link in /usr/bin and its manual page.
foreach(program vandrelsql vandrelsql-check)
  if(NOT TARGET ${program})
    continue()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${VANDREL_PROGRAM_DIR})
  # A relative link, so a copied tree still points at its own program; the package makes
  # it absolute (packaging/stage.cmake).
  set(link ${packaging_dir}/bin/${program})
  file(MAKE_DIRECTORY ${packaging_dir}/bin)
  file(CREATE_LINK ../../${VANDREL_PROGRAM_DIR}/${program} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION usr/bin)
  vandrel_gzip(${PROJECT_SOURCE_DIR}/docs/man/${program}.1 ${packaging_dir}/${program}.1.gz)
  list(APPEND packaging_outputs ${packaging_dir}/${program}.1.gz)
  install(FILES ${packaging_dir}/${program}.1.gz DESTINATION ${VANDREL_MAN_DIR})
endforeach()

if(TARGET vandrelsql_window)
  install(TARGETS vandrelsql_window LIBRARY DESTINATION ${VANDREL_PROGRAM_DIR} COMPONENT window)
  install(FILES packaging/vandrelsql.desktop DESTINATION usr/share/applications
          COMPONENT window)
  foreach(side 16 24 32 48)
    install(FILES packaging/icons/${side}x${side}/vandrelsql.png
            DESTINATION usr/share/icons/hicolor/${side}x${side}/apps COMPONENT window)
  endforeach()
  install(FILES packaging/icons/vandrelsql.svg
          DESTINATION usr/share/icons/hicolor/scalable/apps COMPONENT window)
  install(FILES packaging/copyright ${packaging_dir}/changelog.gz
          DESTINATION usr/share/doc/vandrelsql-window COMPONENT window)
  install(FILES packaging/lintian-overrides-window DESTINATION usr/share/lintian/overrides
          RENAME vandrelsql-window COMPONENT window)
endif()

# Documentation, compressed as Debian policy asks for everything but the copyright and
# small examples.
vandrel_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${packaging_dir}/changelog.gz)
vandrel_gzip(${PROJECT_SOURCE_DIR}/docs/usage.md ${packaging_dir}/usage.md.gz)
list(APPEND packaging_outputs ${packaging_dir}/changelog.gz ${packaging_dir}/usage.md.gz)
add_custom_target(vandrel_packaging_files ALL DEPENDS ${packaging_outputs})
install(FILES packaging/copyright ${packaging_dir}/changelog.gz ${packaging_dir}/usage.md.gz
        DESTINATION ${VANDREL_DOC_DIR})
install(FILES docs/examples/quillmereconfig.ini DESTINATION ${VANDREL_DOC_DIR}/examples)
install(FILES packaging/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME vandrelsql)

# The manager's folder (ProgramFiles unset reads as /opt): made by the package, empty, so
# the administrator only writes quillmereconfig.ini there.
install(DIRECTORY DESTINATION opt/Corvessa
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                              GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian packages.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL core)
if(TARGET vandrelsql_window)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
set(CPACK_PACKAGE_NAME vandrelsql)
set(CPACK_DEBIAN_CORE_PACKAGE_NAME vandrelsql)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME vandrelsql-window)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvessa")
set(CPACK_PACKAGE_CONTACT "Corvessa <soporte@corvessa.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/stage.cmake)
set(CPACK_VANDREL_STRIP ${CMAKE_STRIP})
set(CPACK_STRIP_FILES ON)
# The file version as users of the program have always read it: 2.00.0001 for 2.0.1.
function(vandrel_zero_pad out value width)
  string(REPEAT "0" ${width} zeros)
  set(padded "${zeros}${value}")
  string(LENGTH "${padded}" length)
  math(EXPR start "${length} - ${width}")
  string(SUBSTRING "${padded}" ${start} ${width} padded)
  set(${out} ${padded} PARENT_SCOPE)
endfunction()
vandrel_zero_pad(minor ${PROJECT_VERSION_MINOR} 2)
vandrel_zero_pad(revision ${PROJECT_VERSION_PATCH} 4)
set(VANDREL_FILE_VERSION ${PROJECT_VERSION_MAJOR}.${minor}.${revision})

# The first line of each is the package's summary; CPack indents the others itself. (A
# CPACK_PACKAGE_DESCRIPTION_SUMMARY would be put before both.)
set(CPACK_COMPONENT_CORE_DESCRIPTION
  "database updater that runs SQL scripts entity by entity
Runs the SQL update scripts placed beside it in /opt/vandrelsql, entity by
entity, each entity's scripts in one transaction, in a window or, without a
display, in the terminal. Database connections come from the data-access
manager configured in /opt/Corvessa/quillmereconfig.ini (SQLite, PostgreSQL
or ODBC). File version ${VANDREL_FILE_VERSION}.
.
This package needs no desktop: the window is in vandrelsql-window.")
set(CPACK_COMPONENT_WINDOW_DESCRIPTION
  "window of the VandrelSQL database updater
The window that vandrelsql shows when a display answers (X11 or Wayland): the
scripts, the progress of the run, and a failed batch shown and left on the
clipboard. Also the menu entry and the icons. Without it, vandrelsql runs in
the terminal.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_CORE_PACKAGE_RECOMMENDS "vandrelsql-window (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_CORE_PACKAGE_SUGGESTS "odbc-postgresql, tdsodbc")
# On a Wayland-only desktop the window asks Qt for its Wayland plugin; the clipboard tools
# keep the failed batch on the clipboard after the program ends.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS
  "vandrelsql (= ${PROJECT_VERSION}), qt6-wayland, xclip, wl-clipboard")
include(CPack)
