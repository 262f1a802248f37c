# Fails unless KorMain is the only defined dynamic symbol of LIBRARY, besides
# absolute (version) entries.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(found_kor_main FALSE)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  if(line MATCHES "^[0-9a-fA-F]+ T KorMain$")
    set(found_kor_main TRUE)
  elseif(NOT line MATCHES "^[0-9a-fA-F]+ A ")
    message(FATAL_ERROR "unexpected export: ${line}")
  endif()
endforeach()
if(NOT found_kor_main)
  message(FATAL_ERROR "KorMain is not exported:\n${symbols}")
endif()
message(STATUS "exports: ${symbols}")

# The driver throws nothing and needs no C++ run-time: it imports only from the
# host library and the C library, so no path inside it can end in a throw.
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY}
  OUTPUT_VARIABLE imports RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
if(imports MATCHES "GLIBCXX|CXXABI|__throw|__cxa_throw")
  message(FATAL_ERROR "the driver imports from the C++ run-time:\n${imports}")
endif()
