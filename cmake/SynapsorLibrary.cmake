# The library other programs link: one libsynapsor (static, or shared with BUILD_SHARED_LIBS=ON)
# made of the object files of the module libraries, so that each source compiles once and the
# module targets stay the architecture. The drivers' own libraries that pull in command-line or
# output libraries (the tool's) are not part of it: an embedding program needs only the model,
# the file formats and the helpers both drivers share.
#
# Defines: synapsor (alias Synapsor::synapsor), programs (builds Synapsor and, when they exist,
# synapsor-tool and synapsor-mpi), and the lists SYNAPSOR_LIBRARY_MODULES (module targets inside the library) and
# SYNAPSOR_EXTERNAL_LINKS (libraries outside the project that those modules link).

set(SYNAPSOR_LIBRARY_MODULES)
foreach(module Common KQmessage DataObject NeuralNets Training FileHandler MLPCommon Train)
    if(TARGET ${module})
        list(APPEND SYNAPSOR_LIBRARY_MODULES ${module})
    endif()
endforeach()

set(_synapsor_objects)
set(SYNAPSOR_EXTERNAL_LINKS)
foreach(module IN LISTS SYNAPSOR_LIBRARY_MODULES)
    list(APPEND _synapsor_objects $<TARGET_OBJECTS:${module}>)
    get_target_property(_links ${module} LINK_LIBRARIES)
    if(_links)
        foreach(link IN LISTS _links)
            # Links between modules are resolved inside the one library; anything else (a
            # Debian library such as Highway) becomes a dependency of the library itself.
            if(NOT link IN_LIST SYNAPSOR_LIBRARY_MODULES AND NOT link IN_LIST SYNAPSOR_EXTERNAL_LINKS)
                list(APPEND SYNAPSOR_EXTERNAL_LINKS ${link})
            endif()
        endforeach()
    endif()
endforeach()

# An imported target a module found in its own directory is not visible here: find it again.
foreach(link IN LISTS SYNAPSOR_EXTERNAL_LINKS)
    if(link MATCHES "^([A-Za-z0-9_]+)::" AND NOT TARGET ${link})
        find_package(${CMAKE_MATCH_1} REQUIRED)
    endif()
endforeach()

add_library(synapsor ${_synapsor_objects})
add_library(Synapsor::synapsor ALIAS synapsor)
add_dependencies(synapsor ${SYNAPSOR_LIBRARY_MODULES})
set_target_properties(synapsor PROPERTIES
    LINKER_LANGUAGE CXX
    VERSION ${PROJECT_VERSION}
    # Before 1.0 every minor version may change the interface, so it is part of the SONAME.
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
    ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
# Installed headers live under include/synapsor/<Module>/ and include each other as
# "<Module>/Header.h": a user needs both include/ (for <synapsor/...>) and include/synapsor/.
target_include_directories(synapsor PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/synapsor>)
target_compile_features(synapsor PUBLIC cxx_std_17)
if(SYNAPSOR_EXTERNAL_LINKS)
    target_link_libraries(synapsor PRIVATE ${SYNAPSOR_EXTERNAL_LINKS})
endif()

add_custom_target(programs)
add_dependencies(programs Synapsor)
if(TARGET synapsor-tool)
    add_dependencies(programs synapsor-tool)
endif()
if(TARGET synapsor-mpi)
    add_dependencies(programs synapsor-mpi)
endif()
