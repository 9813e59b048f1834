# Installed layout: the program in its own folder /opt/vandrelsql (the update scripts go
# beside it), a link in /usr/bin, the desktop entry and the icons. Paths are relative to
# the prefix, which is / unless given, so `cmake --install build --prefix DIR` lays out a
# tree under DIR.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Installation prefix" FORCE)
endif()

set(VANDREL_PROGRAM_DIR opt/vandrelsql)
install(TARGETS vandrelsql RUNTIME DESTINATION ${VANDREL_PROGRAM_DIR})
# Project libraries built shared live beside the program, found through RPATH $ORIGIN.
foreach(lib quillmere)
  if(TARGET ${lib})
    get_target_property(type ${lib} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      install(TARGETS ${lib} LIBRARY DESTINATION ${VANDREL_PROGRAM_DIR})
    endif()
  endif()
endforeach()

# A relative link, so a copied tree still points at its own program.
set(link ${CMAKE_CURRENT_BINARY_DIR}/install/vandrelsql)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install)
file(CREATE_LINK ../../${VANDREL_PROGRAM_DIR}/vandrelsql ${link} SYMBOLIC)
install(FILES ${link} DESTINATION usr/bin)

install(FILES packaging/vandrelsql.desktop DESTINATION usr/share/applications)
foreach(side 16 24 32 48)
  install(FILES packaging/icons/${side}x${side}/vandrelsql.png
          DESTINATION usr/share/icons/hicolor/${side}x${side}/apps)
endforeach()
install(FILES packaging/icons/vandrelsql.svg DESTINATION usr/share/icons/hicolor/scalable/apps)

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vandrelsql)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvessa")
set(CPACK_PACKAGE_CONTACT "Corvessa <soporte@corvessa.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VandrelSQL database updater (file version 2.00.0001)")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Runs the SQL update scripts placed beside it in /opt/vandrelsql, entity by
entity, each entity's scripts in one transaction. Database connections come
from the data-access manager configured in
$ProgramFiles/Corvessa/quillmereconfig.ini (SQLite, PostgreSQL or ODBC).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# On a Wayland-only desktop the program asks Qt for its Wayland plugin.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, xclip, wl-clipboard")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-postgresql, tdsodbc")
include(CPack)
