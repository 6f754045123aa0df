# Helpers shared by every folder's CMakeLists.txt.

# Our own code builds with all warnings as errors; third-party headers come in
# as SYSTEM includes and stay outside that net.
function(tavo_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# tavo_layer(NAME [HDRS headers...] [SRCS sources...] [DEPS targets...])
# The library of one layer folder. Its public headers live under include/
# (include/<layer>/X.h, included as "<layer>/X.h"), its sources and private
# headers under src/; both lists are relative to the folder and explicit.
# The target exports only its own include/ root and links only the layers
# given in DEPS (the ones below it), so an include of a layer above does not
# resolve. With sources it is a static archive compiled with -fPIC (linked
# into the plugin's shared library as well as into ulm-host and the tests);
# without, a header-only INTERFACE library.
function(tavo_layer name)
    cmake_parse_arguments(ARG "" "" "HDRS;SRCS;DEPS" ${ARGN})
    set(include_root $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
    if(ARG_SRCS)
        add_library(${name} STATIC ${ARG_SRCS} ${ARG_HDRS})
        target_include_directories(${name} PUBLIC ${include_root}
                                           PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
        target_link_libraries(${name} PUBLIC ${ARG_DEPS})
        tavo_warnings(${name})
    else()
        add_library(${name} INTERFACE ${ARG_HDRS})
        target_include_directories(${name} INTERFACE ${include_root})
        target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# tavo_private_headers(TARGET LAYER_TARGETS...)
# Lets a test, benchmark or fuzz target include the private headers of the
# given layers (their src/ folders), e.g. #include "detail/KeyedHash.h".
function(tavo_private_headers target)
    foreach(layer IN LISTS ARGN)
        get_target_property(dir ${layer} SOURCE_DIR)
        target_include_directories(${target} PRIVATE ${dir}/src)
    endforeach()
endfunction()

# tavo_add_layer_folders()
# add_subdirectory() for every layer of TAVO_LAYERS, lowest first, below the
# current folder: the layers themselves at the top, their tests in tests/.
macro(tavo_add_layer_folders)
    foreach(tavo_layer_folder IN LISTS TAVO_LAYERS)
        add_subdirectory(${tavo_layer_folder})
    endforeach()
endmacro()

# tavo_test(NAME SOURCES... [DEPS targets...] [PRIVATE_HEADERS layers...]
#           [LABELS labels...])
# One GoogleTest executable; its cases are discovered into CTest, with the
# labels given. It includes the tests' own headers from the repository root
# ("tests/framework/TestHost.h") and the private headers of the layers named. When cross compiling, CTest runs it through
# CMAKE_CROSSCOMPILING_EMULATOR.
function(tavo_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_HEADERS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${TAVO_ROOT})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
    tavo_private_headers(${name} ${ARG_PRIVATE_HEADERS})
    tavo_warnings(${name})
    set(properties TIMEOUT 300)
    if(ARG_LABELS)
        list(APPEND properties LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${properties})
endfunction()

# tavo_layer_tests(NAME DEPS targets... [PRIVATE_HEADERS layers...])
# One test executable from every *Test.cpp in the folder; the suites that
# exercise threads (*ThreadsTest.cpp) form NAME_threads, labelled "threads",
# which the ThreadSanitizer stage builds and runs on their own.
function(tavo_layer_tests name)
    cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_HEADERS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    file(GLOB thread_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*ThreadsTest.cpp)
    if(thread_sources)
        list(REMOVE_ITEM sources ${thread_sources})
        tavo_test(${name}_threads SOURCES ${thread_sources} DEPS ${ARG_DEPS}
                  PRIVATE_HEADERS ${ARG_PRIVATE_HEADERS} LABELS threads)
    endif()
    if(sources)
        tavo_test(${name} SOURCES ${sources} DEPS ${ARG_DEPS}
                  PRIVATE_HEADERS ${ARG_PRIVATE_HEADERS})
    endif()
endfunction()
