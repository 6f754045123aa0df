# What `cmake --install` puts into a prefix, for authors of other plugins:
#
#   include/tavo/<layer>/*.h     the public headers, spelt as in this tree
#                                (#include "framework/AppModule.h")
#   lib/libtavo_<layer>.a        the layers' static libraries (-fPIC)
#   bin/ulm-host                 the development host
#   lib/cmake/Tavo/              the package: TavoConfig.cmake and its version
#                                file, the exported targets Tavo::<layer> and
#                                Tavo::ulm-host, tavo_add_plugin
#                                (TavoPlugin.cmake) with its export check and
#                                the sources every plugin gets (plugin/), and
#                                FindLibYAML.cmake
#
# A project uses it with find_package(Tavo CONFIG REQUIRED), then
# tavo_add_plugin(...) or target_link_libraries(... Tavo::framework).
# Internal headers (detail/) are installed only where a public header
# includes them.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/tavo)
set(TAVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavo)

# tavo_install_layer(<layer> [DETAIL header...])
# The layer's library, its public headers, and the detail/ headers named
# (those its public headers include).
function(tavo_install_layer layer)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "DETAIL")
    file(GLOB headers ${TAVO_ROOT}/${layer}/*.h)
    install(FILES ${headers} DESTINATION ${TAVO_INSTALL_INCLUDEDIR}/${layer})
    list(TRANSFORM ARG_DETAIL PREPEND ${TAVO_ROOT}/${layer}/detail/)
    if(ARG_DETAIL)
        install(FILES ${ARG_DETAIL} DESTINATION ${TAVO_INSTALL_INCLUDEDIR}/${layer}/detail)
    endif()
    # A consumer compiles the headers as C++20, as the libraries were.
    target_compile_features(tavo_${layer} INTERFACE cxx_std_20)
    install(TARGETS tavo_${layer} EXPORT TavoTargets
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            INCLUDES DESTINATION ${TAVO_INSTALL_INCLUDEDIR})
endfunction()

tavo_install_layer(platform)
tavo_install_layer(logging DETAIL FormatArgs.h)
tavo_install_layer(binding DETAIL BindingPropertyIterators.h ReadableTypeName.h StaticTypeImpl.h)
tavo_install_layer(formats)
tavo_install_layer(remoting)
tavo_install_layer(framework)

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
