# The install step: lumopack, the stub of each target and the manual page,
# in the usual places. CPack makes its packages from the same rules: a
# Debian package from the host build, a zip from a Windows build.
include(GNUInstallDirs)

# Installing and packaging take what is built and build nothing themselves,
# as `cmake --install` does: scripts/package.sh builds what the packages
# hold first, and a package made while tests run never rebuilds under them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

if(WIN32)
  # One folder: lumopack.exe finds the stubs beside itself.
  set(lumopack_bin_dir .)
  set(lumopack_stub_dir .)
  set(lumopack_targets windows-x86 windows-x64)
else()
  # lumopack finds them in ../lib/lumopack from its own folder.
  set(lumopack_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(lumopack_stub_dir lib/lumopack)
  set(lumopack_targets windows-x86 windows-x64 posix)
endif()

install(TARGETS lumopack RUNTIME DESTINATION ${lumopack_bin_dir})

# The installed names are the ones tools/lumopack/stub_targets.cc looks for.
foreach(target IN LISTS lumopack_targets)
  set(installed lumo-stub-${target})
  if(target MATCHES "^windows")
    string(APPEND installed .exe)
  endif()
  if(target STREQUAL LUMO_OWN_STUB_TARGET)
    install(PROGRAMS $<TARGET_FILE:lumo-stub> DESTINATION ${lumopack_stub_dir} RENAME ${installed})
  else()
    string(TOUPPER "LUMO_STUB_${target}" variable)
    string(REPLACE "-" "_" variable "${variable}")
    set(stub "${${variable}}")
    install(CODE "
      if(NOT EXISTS \"${stub}\")
        message(FATAL_ERROR \"The ${target} stub ${stub} is missing: build that Windows preset first, or name the stub with -D${variable}=FILE\")
      endif()")
    install(PROGRAMS "${stub}" DESTINATION ${lumopack_stub_dir} RENAME ${installed})
  endif()
endforeach()

if(NOT WIN32)
  # Compressed as Debian's manual pages are, with no time stamp inside.
  set(manual ${CMAKE_CURRENT_BINARY_DIR}/lumopack.1.gz)
  add_custom_command(OUTPUT ${manual}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/tools/lumopack/lumopack.1 > ${manual}
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/lumopack/lumopack.1
    COMMENT "Compressing the manual page lumopack.1")
  add_custom_target(lumopack_manual ALL DEPENDS ${manual})
  install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME lumopack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Lumo installer project")
set(CPACK_PACKAGE_CONTACT "Lumo installer maintainers <lumo-installer@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packs add-on folders into Lumo installers for Windows")
set(CPACK_PACKAGE_DESCRIPTION "lumopack turns a folder into a self-extracting installer for an add-on of
the Lumo desktop product, for 32- or 64-bit Windows or for this system, and
lists, tests and extracts such installers. See lumopack(1).")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
