# What an installation on Linux holds besides the libraries, headers and programs:
# the pkg-config files and the CMake package for hosts that build against the
# driver, the manual pages, the bash completion and the documentation. The Debian
# packages are made of it by debian/ (./run package).
include(CMakePackageConfigHelpers)

set(package_dir ${PROJECT_SOURCE_DIR}/cmake/package)

# roderavo.pc and zanpro.pc name the prefix they are installed under, which is
# known only when installing (cmake --install --prefix, or the packages' /usr).
foreach(pc roderavo zanpro)
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(version \"${PROJECT_VERSION}\")
    set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
    set(includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
    configure_file(\"${package_dir}/${pc}.pc.in\"
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/${pc}.pc\" @ONLY)"
    COMPONENT roderavo)
endforeach()

# find_package(roderavo): roderavo::roderavo and roderavo::zanpro.
set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/roderavo)
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
  ${PROJECT_SOURCE_DIR}/docs/monitoring DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT roderavo)
