# tavo_plugin_names: which full names make a plugin, and the short name,
# export and type each gives. Run by ctest as a script:
#   cmake -DTAVO_ROOT=... -P PluginNamesTest.cmake
include(${TAVO_ROOT}/cmake/TavoPlugin.cmake)

set(failures 0)
macro(expect what actual expected)
    if(NOT "${actual}" STREQUAL "${expected}")
        message(SEND_ERROR "${what}: got '${actual}', expected '${expected}'")
        math(EXPR failures "${failures} + 1")
    endif()
endmacro()

# Accepted: full name | short name | export | type
set(accepted
    "ulm-be-vex-heartbeat|vex-heartbeat|load_vex_heartbeat|backend"
    "ulm-fe-counter|counter|load_counter|frontend"
    "ulm-xx-resource-counter|resource-counter|load_resource_counter|other"
    "ulm-be-a|a|load_a|backend"
    "ulm-be-log_2-view9|log_2-view9|load_log_2_view9|backend")
foreach(row IN LISTS accepted)
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 name)
    list(GET fields 1 short)
    list(GET fields 2 export)
    list(GET fields 3 type)
    tavo_plugin_names(${name} got)
    expect("${name}: error" "${got_ERROR}" "")
    expect("${name}: short name" "${got_SHORT_NAME}" "${short}")
    expect("${name}: export" "${got_EXPORT}" "${export}")
    expect("${name}: type" "${got_TYPE}" "${type}")
endforeach()

# Refused, each with the reason that names it.
set(refused
    # no or an unknown type prefix
    vex-heartbeat ulm-vex-heartbeat ulm-ab-counter libulm-be-counter ULM-BE-COUNTER
    # no short name
    ulm-be- ulm-be
    # a short name that does not make an identifier, or that the host reads
    # differently
    ulm-be-Counter ulm-be-counter.so ulm-be--counter ulm-be-counter- ulm-be-_counter
    "ulm-be-two words" ulm-be-ünï)
foreach(name IN LISTS refused)
    tavo_plugin_names("${name}" got)
    expect("${name}: short name" "${got_SHORT_NAME}" "")
    expect("${name}: export" "${got_EXPORT}" "")
    if(NOT got_ERROR MATCHES "^'${name}' is not a plugin's full name")
        message(SEND_ERROR "${name}: accepted or refused without naming it: '${got_ERROR}'")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} plugin name checks failed")
endif()
