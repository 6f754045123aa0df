# tavo_add_plugin(<full name> SOURCES <source>... [LIBRARIES <target>...])
#
# Makes a plugin library the host can load, the same way in this tree and in
# a project that uses the installed package (find_package(Tavo)):
#
# - <full name> is "ulm-be-" (a backend plugin), "ulm-fe-" (frontend) or
#   "ulm-xx-" (any other type) followed by the short name: lower-case letters
#   and digits, words joined by single "-" or "_". It is the target's name and
#   the file's (ulm-be-counter.so, ulm-be-counter.dll), from which the host
#   derives the export's name, so a wrong name is a configure error.
# - The library exports exactly one symbol, load_<short name> with "-" turned
#   into "_": everything is compiled with hidden visibility and a generated
#   export list (a version script on ELF, a module definition on PE) keeps
#   only that name. The sources write the export with
#   TAVO_PLUGIN_EXPORT(Module) from framework/PluginExport.h, which reads
#   the names defined here.
# - The C++ runtime is linked statically (on Windows libgcc and the threads
#   library too, so the library imports system libraries only), and every
#   operator new and delete inside the library goes through the framework's
#   counting hooks, so the plugin's memory statistics see all of its own
#   allocations and none of its host's. Windows libraries get the framework's
#   attach routine.
# - A test, <full name>.exports, reads the built library's export list
#   (nm on ELF, objdump on PE) and fails unless it is exactly the one export.
#   It is registered when the project has called enable_testing().
#
# LIBRARIES are linked privately besides Tavo::framework. Compiler: GCC or
# Clang (MinGW-w64 for Windows).

include_guard(GLOBAL)

# tavo_plugin_names(<full name> <prefix>)
# Splits a plugin's full name. Sets <prefix>_SHORT_NAME ("resource-counter"),
# <prefix>_EXPORT ("load_resource_counter") and <prefix>_TYPE ("backend",
# "frontend", or "other" for ulm-xx-), or only <prefix>_ERROR, the reason
# the name is not a plugin's full name.
function(tavo_plugin_names full_name prefix)
    foreach(suffix SHORT_NAME EXPORT TYPE ERROR)
        unset(${prefix}_${suffix} PARENT_SCOPE)
    endforeach()
    if(NOT full_name MATCHES "^ulm-(be|fe|xx)-([a-z0-9]+([-_][a-z0-9]+)*)$")
        string(CONCAT reason
            "'${full_name}' is not a plugin's full name. A full name is \"ulm-be-\" (backend), "
            "\"ulm-fe-\" (frontend) or \"ulm-xx-\" (another type) followed by the short name: "
            "lower-case letters and digits in words joined by single \"-\" or \"_\", "
            "e.g. ulm-be-resource-counter.")
        set(${prefix}_ERROR "${reason}" PARENT_SCOPE)
        return()
    endif()
    set(types be backend fe frontend xx other)
    list(FIND types ${CMAKE_MATCH_1} at)
    math(EXPR at "${at} + 1")
    list(GET types ${at} type)
    string(REPLACE "-" "_" export_name "load_${CMAKE_MATCH_2}")
    set(${prefix}_SHORT_NAME ${CMAKE_MATCH_2} PARENT_SCOPE)
    set(${prefix}_EXPORT ${export_name} PARENT_SCOPE)
    set(${prefix}_TYPE ${type} PARENT_SCOPE)
endfunction()

# tavo_plugin_definitions(<target> <full name>)
# The names TAVO_PLUGIN_EXPORT (framework/PluginExport.h) reads, defined for
# compiling <target>'s sources. tavo_add_plugin uses it; so does a program
# that links a plugin's sources in directly (a fuzz target, say).
function(tavo_plugin_definitions target full_name)
    tavo_plugin_names(${full_name} plugin)
    if(plugin_ERROR)
        message(FATAL_ERROR "tavo_plugin_definitions: ${plugin_ERROR}")
    endif()
    target_compile_definitions(${target} PRIVATE
        TAVO_PLUGIN_EXPORT_NAME=${plugin_EXPORT}
        TAVO_PLUGIN_SHORT_NAME="${plugin_SHORT_NAME}"
        TAVO_PLUGIN_TYPE_NAME="${plugin_TYPE}")
endfunction()

function(tavo_add_plugin full_name)
    # The export check lies beside this file; the sources every plugin gets
    # (MemoryHooks.cpp, LibraryAttachWin32.cpp) lie in plugin/ beside it in
    # the installed package, in framework/plugin/ in the source tree.
    set(module_dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
    if(EXISTS ${module_dir}/plugin/MemoryHooks.cpp)
        set(plugin_sources ${module_dir}/plugin)
    else()
        get_filename_component(plugin_sources ${module_dir}/../framework/plugin ABSOLUTE)
    endif()

    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;LIBRARIES")
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "tavo_add_plugin(${full_name}): unexpected arguments "
                            "'${ARG_UNPARSED_ARGUMENTS}' (it takes SOURCES and LIBRARIES)")
    endif()
    tavo_plugin_names(${full_name} plugin)
    if(plugin_ERROR)
        message(FATAL_ERROR "tavo_add_plugin: ${plugin_ERROR}")
    endif()
    if(NOT ARG_SOURCES)
        message(FATAL_ERROR "tavo_add_plugin(${full_name}): no SOURCES given")
    endif()
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        message(FATAL_ERROR "tavo_add_plugin(${full_name}): plugins are built with GCC or Clang "
                            "(MinGW-w64 for Windows), not ${CMAKE_CXX_COMPILER_ID}")
    endif()
    set(export_name ${plugin_EXPORT})

    # The export list, generated from the name so that it cannot drift.
    set(list_dir ${CMAKE_CURRENT_BINARY_DIR}/${full_name}.exports)
    if(WIN32)
        set(export_list ${list_dir}/exports.def)
        file(CONFIGURE OUTPUT ${export_list} @ONLY CONTENT
"; The library's export table: exactly one undecorated C function.
LIBRARY \"@full_name@.dll\"
EXPORTS
    @export_name@
")
        set(extra_sources ${export_list} ${plugin_sources}/LibraryAttachWin32.cpp)
        set(link_options -static -static-libstdc++ -static-libgcc -Wl,--no-undefined)
    else()
        set(export_list ${list_dir}/exports.map)
        file(CONFIGURE OUTPUT ${export_list} @ONLY CONTENT
"{
  global:
    @export_name@;
  local:
    *;
};
")
        set(extra_sources "")
        set(link_options -static-libstdc++ -static-libgcc -Wl,--version-script=${export_list}
                         -Wl,--no-undefined)
    endif()

    add_library(${full_name} SHARED ${ARG_SOURCES} ${plugin_sources}/MemoryHooks.cpp
                                    ${extra_sources})
    target_link_libraries(${full_name} PRIVATE Tavo::framework ${ARG_LIBRARIES})
    tavo_plugin_definitions(${full_name} ${full_name})
    target_link_options(${full_name} PRIVATE ${link_options})
    set_target_properties(${full_name} PROPERTIES
        PREFIX ""
        OUTPUT_NAME ${full_name}
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        LINK_DEPENDS ${export_list})

    if(WIN32)
        find_program(TAVO_OBJDUMP NAMES ${CMAKE_OBJDUMP} objdump)
        set(check_tool ${TAVO_OBJDUMP})
        set(check_format pe)
    else()
        find_program(TAVO_NM NAMES ${CMAKE_NM} nm)
        set(check_tool ${TAVO_NM})
        set(check_format elf)
    endif()
    if(check_tool)
        add_test(NAME ${full_name}.exports
                 COMMAND ${CMAKE_COMMAND} -DTOOL=${check_tool} -DFORMAT=${check_format}
                         -DLIBRARY=$<TARGET_FILE:${full_name}> -DEXPECTED=${export_name}
                         -P ${module_dir}/TavoCheckExports.cmake)
    else()
        message(WARNING "tavo_add_plugin(${full_name}): no nm/objdump found, "
                        "so the export list goes unchecked")
    endif()
endfunction()
