# What an installation on Linux holds besides the libraries, headers and programs:
# the pkg-config files and the CMake package for hosts that build against the
# driver, the manual pages, the bash completion and the documentation; and the
# Debian package that CPack makes of it all (./run package).
include(CMakePackageConfigHelpers)

set(package_dir ${PROJECT_SOURCE_DIR}/cmake/package)

# roderavo.pc and zanpro.pc name the prefix they are installed under, which is
# known only when installing (cmake --install --prefix, or CPack's /usr).
foreach(pc roderavo zanpro)
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(version \"${PROJECT_VERSION}\")
    configure_file(\"${package_dir}/${pc}.pc.in\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/pkgconfig/${pc}.pc\" @ONLY)"
    COMPONENT roderavo)
endforeach()

# find_package(roderavo): roderavo::roderavo and roderavo::zanpro.
set(cmake_dir lib/cmake/roderavo)
configure_package_config_file(${package_dir}/roderavoConfig.cmake.in
  ${PROJECT_BINARY_DIR}/roderavoConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/roderavoConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(EXPORT roderavo-targets NAMESPACE roderavo:: DESTINATION ${cmake_dir}
  COMPONENT roderavo)
install(FILES ${PROJECT_BINARY_DIR}/roderavoConfig.cmake
  ${PROJECT_BINARY_DIR}/roderavoConfigVersion.cmake DESTINATION ${cmake_dir} COMPONENT roderavo)

# The programs' manual pages and their completion (one script serves both).
if(RODERAVO_BUILD_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/man/roderavo.1 ${PROJECT_SOURCE_DIR}/man/muxsim.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/roderavo DESTINATION ${completions})
  install(FILES ${PROJECT_SOURCE_DIR}/completions/roderavo DESTINATION ${completions}
    RENAME muxsim)
endif()

# share/doc/roderavo: the overview, the guide with its picture, and the host example.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/guide.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT roderavo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images ${PROJECT_SOURCE_DIR}/docs/examples
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT roderavo)

# The Debian package: everything above under /usr, its dependencies computed by
# dpkg-shlibdeps from what the binaries link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME roderavo)
set(CPACK_PACKAGE_VENDOR roderavo)
set(CPACK_PACKAGE_CONTACT "roderavo maintainers <roderavo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "driver for Amux 20CD video multiplexers on a serial line, with its host tool")
set(CPACK_PACKAGE_DESCRIPTION
  "libroderavo.so.1 is the driver through which a SCADA host reads and controls up to five \
Amux 20CD video multiplexers on one RS-232 line. The package holds the driver, the reference \
host library libzanpro.so.1, their headers, pkg-config files and CMake package, the host tool \
roderavo and the multiplexer simulator muxsim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries are found there, not among the system's.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/zanpro
  ${PROJECT_BINARY_DIR}/driver)
# A shlibs file for the two libraries, and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
include(CPack)
