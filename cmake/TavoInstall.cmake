# What `cmake --install` puts into a prefix, for authors of other plugins:
#
#   include/tavo/<layer>/*.h     the public headers, spelt as in this tree
#                                (#include "framework/AppModule.h")
#   lib/libtavo_<layer>.a        the layers' static libraries (-fPIC)
#   bin/ulm-host                 the development host
#   lib/cmake/Tavo/              the package: TavoConfig.cmake and its version
#                                file, the exported targets Tavo::<layer>
#                                (abi, platform, ..., framework) and
#                                Tavo::ulm-host, tavo_add_plugin
#                                (TavoPlugin.cmake) with its export check and
#                                the sources every plugin gets (plugin/), and
#                                FindLibYAML.cmake
#
# A project uses it with find_package(Tavo CONFIG REQUIRED), then
# tavo_add_plugin(...) or target_link_libraries(... Tavo::framework).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/tavo)
set(TAVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavo)

# tavo_install_layer(<layer>)
# The layer's library and its public headers: everything under
# <layer>/include/ (the headers its public headers need included; private
# headers live in <layer>/src/ and stay out).
function(tavo_install_layer layer)
    install(DIRECTORY ${TAVO_ROOT}/${layer}/include/ DESTINATION ${TAVO_INSTALL_INCLUDEDIR})
    # A consumer compiles the headers as C++20, as the libraries were (the
    # boundary records also compile as C).
    if(NOT layer STREQUAL "abi")
        target_compile_features(tavo_${layer} INTERFACE cxx_std_20)
    endif()
    install(TARGETS tavo_${layer} EXPORT TavoTargets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${TAVO_INSTALL_INCLUDEDIR})
endfunction()

foreach(layer abi platform logging binding formats remoting framework)
    tavo_install_layer(${layer})
endforeach()

if(TARGET ulm-host)
    install(TARGETS ulm-host EXPORT TavoTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT TavoTargets NAMESPACE Tavo:: DESTINATION ${TAVO_INSTALL_CMAKEDIR})
configure_package_config_file(${TAVO_ROOT}/cmake/TavoConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/TavoConfig.cmake
                              INSTALL_DESTINATION ${TAVO_INSTALL_CMAKEDIR})
# The version is the plugin API's: a host accepts plugins of its own major.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/TavoConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/TavoConfig.cmake
              ${CMAKE_BINARY_DIR}/package/TavoConfigVersion.cmake
              ${TAVO_ROOT}/cmake/TavoPlugin.cmake
              ${TAVO_ROOT}/cmake/TavoCheckExports.cmake
              ${TAVO_ROOT}/cmake/FindLibYAML.cmake
        DESTINATION ${TAVO_INSTALL_CMAKEDIR})
install(FILES ${TAVO_ROOT}/framework/plugin/MemoryHooks.cpp
              ${TAVO_ROOT}/framework/plugin/LibraryAttachWin32.cpp
        DESTINATION ${TAVO_INSTALL_CMAKEDIR}/plugin)
