# Checks that a plugin library exports exactly one dynamic symbol.
#   cmake -DNM=nm -DLIBRARY=path.so -DEXPECTED=load_vex_heartbeat -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
    # "<address> <type> <name>"
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
    list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "${EXPECTED}")
    message(FATAL_ERROR "${LIBRARY} exports [${names}], expected only [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports only ${EXPECTED}")
