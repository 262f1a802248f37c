# Installs the driver and the host library into a fresh prefix, checks the
# installed files and that the headers are plain C99 and C++11, then builds the
# independent host and its first program against the installed headers alone and
# runs it on the installed driver.
foreach(var BUILD_DIR PREFIX SOURCE_DIR C_COMPILER CXX_COMPILER)
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

foreach(file lib/libroderavo.so.1 lib/roderavo/libroderavo-tagformat.so lib/libzanpro.so.1
             include/roderavo/kor.h include/zanpro/zanpro.h include/zanpro/zanpro_host.h
             lib/pkgconfig/roderavo.pc lib/pkgconfig/zanpro.pc lib/cmake/roderavo/roderavoConfig.cmake
             share/doc/roderavo/guide.md)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
foreach(link lib/libroderavo.so lib/libzanpro.so)
  if(NOT IS_SYMLINK ${PREFIX}/${link})
    message(FATAL_ERROR "${link} is not a link")
  endif()
endforeach()
# The project's C++20 host API stays inside the project.
if(EXISTS ${PREFIX}/include/zanpro/host.h)
  message(FATAL_ERROR "include/zanpro/host.h is installed")
endif()

# The public headers compile as C99 and as C++11.
set(work ${PREFIX}/check)
file(MAKE_DIRECTORY ${work}/host)
file(WRITE ${work}/headers.c
  "#include <roderavo/kor.h>\n#include <zanpro/zanpro.h>\n#include <zanpro/zanpro_host.h>\n"
  "static KorCall call;\n"
  "int main(void) { return (int)call.FunctionNumber + (int)sizeof(DriverContext) - 36; }\n")
run(${C_COMPILER} -std=c99 -Wall -Wextra -Wpedantic -Werror -fsyntax-only
    -I${PREFIX}/include ${work}/headers.c)
run(${CXX_COMPILER} -x c++ -std=c++11 -Wall -Wextra -Wpedantic -Werror -fsyntax-only
    -I${PREFIX}/include ${work}/headers.c)

# The independent host and program, against the installed headers only.
set(cflags ${flags} -std=c99 -D_GNU_SOURCE -Wall -Wextra -I${PREFIX}/include -I${SOURCE_DIR})
run(${C_COMPILER} ${cflags} -fPIC -shared -fvisibility=hidden
    -Wl,-soname,libzanpro.so.1 -Wl,--version-script=${SOURCE_DIR}/ind_host.map
    ${SOURCE_DIR}/ind_host.c -o ${work}/host/libzanpro.so.1)
run(${C_COMPILER} ${cflags} ${SOURCE_DIR}/programs/entry_address.c ${SOURCE_DIR}/ind_check.c
    ${work}/host/libzanpro.so.1 -Wl,-rpath,${work}/host -ldl -o ${work}/entry_address)
run(${CMAKE_COMMAND} -E env RODERAVO_DRIVER=${PREFIX}/lib/libroderavo.so.1
    LD_LIBRARY_PATH=${work}/host ${work}/entry_address)
