# Header roots: include directories in the build tree that hold links to chosen
# folders or files only, so that a target sees exactly the headers it may use.
set(RODERAVO_HEADER_ROOTS ${PROJECT_BINARY_DIR}/header-roots)

# roderavo_header_root(target root-name [link-name destination]...): makes the
# header root <root-name> with one link per pair (a link name may hold a folder,
# "zanpro/zanpro.h") and gives it to target and its users as an include
# directory.
function(roderavo_header_root target root)
  set(dir ${RODERAVO_HEADER_ROOTS}/${root})
  file(MAKE_DIRECTORY ${dir})
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs name destination)
    get_filename_component(parent ${dir}/${name} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${destination} ${dir}/${name} SYMBOLIC)
  endwhile()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${dir}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${dir}>)
  endif()
endfunction()
