# Installs the driver and the host library into a fresh prefix, checks the
# installed files, then builds the independent host and its first program against
# the installed headers alone and runs it on the installed driver.
foreach(var BUILD_DIR PREFIX SOURCE_DIR C_COMPILER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not set")
  endif()
endforeach()
separate_arguments(flags UNIX_COMMAND "${C_FLAGS}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${result}): ${command}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

file(REMOVE_RECURSE ${PREFIX})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --component roderavo)

foreach(file lib/libroderavo.so lib/libroderavo-tagformat.so lib/libzanpro.so.1 lib/libzanpro.so include/roderavo/kor.h
             include/zanpro/zanpro.h)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
if(NOT IS_SYMLINK ${PREFIX}/lib/libzanpro.so)
  message(FATAL_ERROR "lib/libzanpro.so is not a link")
endif()

# The public headers are plain C.
set(work ${PREFIX}/check)
file(MAKE_DIRECTORY ${work}/host)
file(WRITE ${work}/headers.c
  "#include <roderavo/kor.h>\n#include <zanpro/zanpro.h>\n"
  "int main(void) { KorCall call = {0}; (void)call; return (int)sizeof(DriverContext) - 36; }\n")
run(${C_COMPILER} -std=c99 -Wall -Wextra -Wpedantic -Werror -fsyntax-only
    -I${PREFIX}/include ${work}/headers.c)

# The independent host and program, against the installed headers only.
set(cflags ${flags} -std=c99 -D_GNU_SOURCE -Wall -Wextra -I${PREFIX}/include -I${SOURCE_DIR})
run(${C_COMPILER} ${cflags} -fPIC -shared -fvisibility=hidden
    -Wl,-soname,libzanpro.so.1 -Wl,--version-script=${SOURCE_DIR}/ind_host.map
    ${SOURCE_DIR}/ind_host.c -o ${work}/host/libzanpro.so.1)
run(${C_COMPILER} ${cflags} ${SOURCE_DIR}/programs/entry_address.c ${SOURCE_DIR}/ind_check.c
    ${work}/host/libzanpro.so.1 -Wl,-rpath,${work}/host -ldl -o ${work}/entry_address)
run(${CMAKE_COMMAND} -E env RODERAVO_DRIVER=${PREFIX}/lib/libroderavo.so
    LD_LIBRARY_PATH=${work}/host ${work}/entry_address)
