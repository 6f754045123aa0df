# Checks that a plugin library exports exactly one symbol, the expected one.
# Run as a script by the test tavo_add_plugin adds:
#
#   cmake -DTOOL=nm -DFORMAT=elf -DLIBRARY=ulm-be-counter.so -DEXPECTED=load_counter
#         -P TavoCheckExports.cmake
#
# FORMAT elf reads the dynamic symbol table with `nm -D --defined-only`;
# FORMAT pe reads the export table of `objdump -p`.
foreach(var TOOL FORMAT LIBRARY EXPECTED)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "TavoCheckExports.cmake: -D${var}=... is missing")
    endif()
endforeach()
if(NOT EXISTS "${LIBRARY}")
    message(FATAL_ERROR "${LIBRARY} does not exist")
endif()

if(FORMAT STREQUAL "elf")
    execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY}
                    OUTPUT_VARIABLE listing RESULT_VARIABLE status)
elseif(FORMAT STREQUAL "pe")
    execute_process(COMMAND ${TOOL} -p ${LIBRARY}
                    OUTPUT_VARIABLE listing RESULT_VARIABLE status)
else()
    message(FATAL_ERROR "TavoCheckExports.cmake: FORMAT is elf or pe, not '${FORMAT}'")
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
endif()

string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(names "")
set(in_table OFF)
foreach(line IN LISTS lines)
    if(FORMAT STREQUAL "elf")
        # "<address> <type> <name>"
        string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
        list(APPEND names "${name}")
    elseif(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
        set(in_table ON)
    elseif(in_table AND line MATCHES "^[ \t]*\\[[ \t]*[0-9]+\\].*[ \t]([^ \t]+)[ \t]*$")
        # "	[   0] load_counter": the name is the row's last field
        list(APPEND names "${CMAKE_MATCH_1}")
    elseif(in_table AND line MATCHES "^[ \t]*$")
        set(in_table OFF)
    endif()
endforeach()
if(NOT names STREQUAL "${EXPECTED}")
    message(FATAL_ERROR "${LIBRARY} exports [${names}], expected only [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports only ${EXPECTED}")
