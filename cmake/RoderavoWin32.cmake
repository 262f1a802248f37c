# The Windows artifacts: their file names, exports and imports.

# roderavo_win32_host_import(target): an interface library for the driver's
# layers: the host library's headers, and the import library of ZANPRO.dll made
# from driver/host/zanpro.def. The driver so binds to whichever ZANPRO.dll the
# host process provides, not to the reference one it was built with.
function(roderavo_win32_host_import target)
  set(def ${PROJECT_SOURCE_DIR}/driver/host/zanpro.def)
  set(import ${CMAKE_CURRENT_BINARY_DIR}/libzanpro_import.a)
  add_custom_command(OUTPUT ${import}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ZANPRO.dll --output-lib ${import}
    DEPENDS ${def}
    COMMENT "Import library of ZANPRO.dll from zanpro.def")
  add_custom_target(${target}_file DEPENDS ${import})
  add_library(${target} INTERFACE)
  add_dependencies(${target} ${target}_file)
  target_include_directories(${target} INTERFACE
    $<TARGET_PROPERTY:zanpro,INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_libraries(${target} INTERFACE ${import})
endfunction()

# roderavo_win32_driver(target): the driver as RODERAVO.DLL (the dialog finds its
# own module by that name), exporting what driver/roderavo.def lists: KorMain.
# The Tag Format dialog's resource goes into the DLL itself: as a member of the
# dialog layer's static library nothing would pull it in.
function(roderavo_win32_driver target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/driver/roderavo.def
    ${PROJECT_SOURCE_DIR}/driver/dialog/win32/tag_format.rc)
  target_include_directories(${target} PRIVATE
    $<TARGET_PROPERTY:roderavo_dialog,INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME RODERAVO SUFFIX ".DLL")
endfunction()

# roderavo_win32_host_library(target): the reference host library as ZANPRO.dll,
# exporting its C functions only (zanpro.h and zanpro_host.h).
function(roderavo_win32_host_library target)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ZANPRO SUFFIX ".dll")
  target_sources(${target} PRIVATE
    ${PROJECT_SOURCE_DIR}/zanpro/host_exports.cpp)
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()
