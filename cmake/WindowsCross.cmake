# Windows builds with the mingw-w64 cross compilers (cmake/toolchain-mingw-*.cmake).
#
# - The system headers are asked for Windows 7 and later, lean.
# - Build-machine paths are mapped away, so none ends up in a shipped library
#   (fatal reports carry __FILE__).
# - Header-only libraries (RapidJSON, CLI11; msgpack-c for the fuzz replays'
#   differential check) come from Debian's /usr/include through a folder of
#   links to just them: the whole of /usr/include would shadow the cross
#   compiler's C library headers.
# - libyaml is built from Debian's source package, unpacked by
#   `scripts/install-deps.sh win` under build/deps-src/.
# - 64-bit test programs run under wine64 with a prefix inside the build tree.

add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
# ccache with CCACHE_BASEDIR hands the compiler relative paths: map those too.
file(RELATIVE_PATH tavo_source_from_build ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
string(REGEX REPLACE "/$" "" tavo_source_from_build "${tavo_source_from_build}")
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=
                    -ffile-prefix-map=${tavo_source_from_build}/=)

set(tavo_header_links ${CMAKE_BINARY_DIR}/header-links)
file(MAKE_DIRECTORY ${tavo_header_links})
foreach(dir rapidjson CLI)
    if(NOT EXISTS /usr/include/${dir})
        message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/install-deps.sh base")
    endif()
    file(CREATE_LINK /usr/include/${dir} ${tavo_header_links}/${dir} SYMBOLIC)
endforeach()
if(TAVO_BUILD_TESTS)
    foreach(entry msgpack msgpack.hpp)
        if(NOT EXISTS /usr/include/${entry})
            message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/install-deps.sh win")
        endif()
        file(CREATE_LINK /usr/include/${entry} ${tavo_header_links}/${entry} SYMBOLIC)
    endforeach()
    include_directories(SYSTEM ${tavo_header_links})
endif()
set(RAPIDJSON_INCLUDE_DIR ${tavo_header_links} CACHE PATH "RapidJSON headers" FORCE)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${tavo_header_links}
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${tavo_header_links})

file(GLOB tavo_yaml_sources LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/build/deps-src/libyaml-*)
list(FILTER tavo_yaml_sources INCLUDE REGEX "/libyaml-[0-9.]+$")
if(NOT tavo_yaml_sources)
    message(FATAL_ERROR "libyaml's source is missing under build/deps-src: "
                        "run scripts/install-deps.sh win")
endif()
list(GET tavo_yaml_sources 0 tavo_yaml_source)
set(BUILD_TESTING OFF CACHE BOOL "libyaml's own tests" FORCE)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "libyaml as a static library" FORCE)
add_subdirectory(${tavo_yaml_source} ${CMAKE_BINARY_DIR}/libyaml EXCLUDE_FROM_ALL SYSTEM)
set(YAML_INCLUDE_DIR ${tavo_yaml_source}/include CACHE PATH "libyaml headers" FORCE)
set(YAML_LIBRARY yaml CACHE STRING "libyaml, built here" FORCE)

if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(TAVO_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
    find_program(TAVO_WINE64 wine64)
    if(TAVO_WINE64)
        set(CMAKE_CROSSCOMPILING_EMULATOR
            env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all ${TAVO_WINE64})
    endif()
endif()
