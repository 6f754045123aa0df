# Finds libyaml, the YAML event parser (a C library that ships no CMake
# package of its own), and defines the target LibYAML::LibYAML.
#
# YAML_INCLUDE_DIR and YAML_LIBRARY may be set beforehand; YAML_LIBRARY may
# then name a target that builds libyaml (the Windows cross build does).
find_path(YAML_INCLUDE_DIR yaml.h)
find_library(YAML_LIBRARY NAMES yaml)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LibYAML REQUIRED_VARS YAML_LIBRARY YAML_INCLUDE_DIR)
if(LibYAML_FOUND AND NOT TARGET LibYAML::LibYAML)
    add_library(LibYAML::LibYAML INTERFACE IMPORTED)
    set_target_properties(LibYAML::LibYAML PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${YAML_INCLUDE_DIR}"
        INTERFACE_LINK_LIBRARIES "${YAML_LIBRARY}")
endif()
mark_as_advanced(YAML_INCLUDE_DIR YAML_LIBRARY)
