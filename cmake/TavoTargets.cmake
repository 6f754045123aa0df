# Helpers shared by every folder's CMakeLists.txt.

# Our own code builds with all warnings on; third-party headers come in as
# SYSTEM includes and stay outside that net. Warnings are errors only where we
# ask for it (the presets and CI set TAVO_WARNINGS_AS_ERRORS): another
# compiler's or optimiser's false positive must not break someone else's
# plain build of this tree.
function(tavo_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                           $<$<BOOL:${TAVO_WARNINGS_AS_ERRORS}>:-Werror>)
endfunction()

# tavo_library(NAME SOURCES... [DEPS targets...])
# A static archive compiled with -fPIC (it is linked into the plugin's shared
# library as well as into ulm-host and the tests). Headers are included from
# the repository root: #include "binding/BindingProperty.h".
function(tavo_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${TAVO_ROOT}>)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    tavo_warnings(${name})
    tavo_package_name(${name})
endfunction()

# tavo_package_name(tavo_X): the layer's library also answers to Tavo::X,
# the name it has in the installed package, so that tavo_add_plugin and the
# examples link the same names in this tree and outside it.
function(tavo_package_name name)
    string(REGEX REPLACE "^tavo_" "" short ${name})
    add_library(Tavo::${short} ALIAS ${name})
    set_target_properties(${name} PROPERTIES EXPORT_NAME ${short})
endfunction()

# tavo_test(NAME SOURCES... [DEPS targets...] [LABELS labels...])
# One GoogleTest executable; its cases are discovered into CTest, with the
# labels given. When cross compiling, CTest runs it through
# CMAKE_CROSSCOMPILING_EMULATOR.
function(tavo_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${TAVO_ROOT})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
    tavo_warnings(${name})
    set(properties TIMEOUT 300)
    if(ARG_LABELS)
        list(APPEND properties LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${properties})
endfunction()

# tavo_layer(NAME DEPS targets...)
# The library of one folder: every .cpp beside its CMakeLists.txt and in its
# detail/ folder. Until the folder has a source, it defines an INTERFACE
# library so that layers above can already name it.
function(tavo_layer name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
                                        ${CMAKE_CURRENT_SOURCE_DIR}/detail/*.cpp)
    if(sources)
        tavo_library(${name} SOURCES ${sources} DEPS ${ARG_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE $<BUILD_INTERFACE:${TAVO_ROOT}>)
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
        tavo_package_name(${name})
    endif()
endfunction()

# tavo_layer_tests(NAME DEPS targets...)
# One test executable from every *Test.cpp in the folder; the suites that
# exercise threads (*ThreadsTest.cpp) form NAME_threads, labelled "threads",
# which the ThreadSanitizer stage builds and runs on their own.
function(tavo_layer_tests name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    file(GLOB thread_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*ThreadsTest.cpp)
    if(thread_sources)
        list(REMOVE_ITEM sources ${thread_sources})
        tavo_test(${name}_threads SOURCES ${thread_sources} DEPS ${ARG_DEPS} LABELS threads)
    endif()
    if(sources)
        tavo_test(${name} SOURCES ${sources} DEPS ${ARG_DEPS})
    endif()
endfunction()
