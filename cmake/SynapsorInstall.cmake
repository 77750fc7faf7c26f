# Install rules: the programs, libsynapsor with its headers, the CMake package (Synapsor::synapsor,
# find_package(Synapsor 0.2)), the pkg-config file, the man pages (see man/CMakeLists.txt) and
# the documentation with the examples. Every path is relative to the prefix, so
# `cmake --install build --prefix P` and DESTDIR both work, and so does CPack.
include(CMakePackageConfigHelpers)

set(SYNAPSOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Synapsor)
set(SYNAPSOR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/synapsor)

install(TARGETS Synapsor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET synapsor-tool)
    install(TARGETS synapsor-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET synapsor-mpi)
    install(TARGETS synapsor-mpi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS synapsor EXPORT SynapsorTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The headers of every module in the library, under include/synapsor/ with the module's path
# below src/ (NeuralNets/, MLP/Common/, ...), which is how they include each other.
foreach(module IN LISTS SYNAPSOR_LIBRARY_MODULES)
    get_target_property(_dir ${module} SOURCE_DIR)
    file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR}/src ${_dir})
    install(DIRECTORY ${_dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/synapsor/${_rel}
        FILES_MATCHING PATTERN "*.h")
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/generated/Common/Version.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/synapsor/Common)

# Libraries from outside the project that libsynapsor links. An imported target NS::name is
# taken to come from find_package(NS), which the installed package repeats for its users.
set(SYNAPSOR_FIND_DEPENDENCIES)
set(SYNAPSOR_PC_REQUIRES)
set(SYNAPSOR_PC_LIBS)
foreach(link IN LISTS SYNAPSOR_EXTERNAL_LINKS)
    if(link MATCHES "^[A-Za-z0-9_+.-]+$")
        list(APPEND SYNAPSOR_PC_LIBS -l${link})
    elseif(link MATCHES "^([A-Za-z0-9_]+)::")
        list(APPEND SYNAPSOR_FIND_DEPENDENCIES ${CMAKE_MATCH_1})
        if(CMAKE_MATCH_1 STREQUAL "hwy")
            list(APPEND SYNAPSOR_PC_REQUIRES libhwy)
        elseif(CMAKE_MATCH_1 STREQUAL "PkgConfig")
            list(REMOVE_ITEM SYNAPSOR_FIND_DEPENDENCIES PkgConfig)
        endif()
    endif()
endforeach()
list(REMOVE_DUPLICATES SYNAPSOR_FIND_DEPENDENCIES)
list(JOIN SYNAPSOR_PC_REQUIRES ", " _requires)
list(JOIN SYNAPSOR_PC_LIBS " " _libs)
# A static libsynapsor needs its dependencies on every link line; a shared one carries them.
set(_private "")
if(BUILD_SHARED_LIBS)
    set(_private ".private")
endif()
set(SYNAPSOR_PC_REQUIRES_LINE "")
if(_requires)
    set(SYNAPSOR_PC_REQUIRES_LINE "Requires${_private}: ${_requires}\n")
endif()
set(SYNAPSOR_PC_LIBS_LINES "Libs: -L\${libdir} -lsynapsor\n")
if(_libs)
    if(BUILD_SHARED_LIBS)
        string(APPEND SYNAPSOR_PC_LIBS_LINES "Libs.private: ${_libs}\n")
    else()
        set(SYNAPSOR_PC_LIBS_LINES "Libs: -L\${libdir} -lsynapsor ${_libs}\n")
    endif()
endif()

install(EXPORT SynapsorTargets NAMESPACE Synapsor:: DESTINATION ${SYNAPSOR_CMAKE_DIR})
configure_package_config_file(cmake/SynapsorConfig.cmake.in
    ${PROJECT_BINARY_DIR}/SynapsorConfig.cmake
    INSTALL_DESTINATION ${SYNAPSOR_CMAKE_DIR})
# Before 1.0 a minor version may change the interface: 0.2 is compatible with 0.2.x only.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/SynapsorConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/SynapsorConfig.cmake
    ${PROJECT_BINARY_DIR}/SynapsorConfigVersion.cmake
    DESTINATION ${SYNAPSOR_CMAKE_DIR})

# synapsor.pc finds the prefix from its own place, so the file is right whatever prefix the
# install is given (configure time does not know it).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(SYNAPSOR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    file(RELATIVE_PATH _up /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
    string(REGEX REPLACE "/$" "" _up "${_up}")
    set(SYNAPSOR_PC_PREFIX "\${pcfiledir}/${_up}")
endif()
configure_file(cmake/synapsor.pc.in ${PROJECT_BINARY_DIR}/synapsor.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/synapsor.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES README.md DESTINATION ${SYNAPSOR_DOC_DIR})
install(DIRECTORY doc/ DESTINATION ${SYNAPSOR_DOC_DIR}/doc FILES_MATCHING PATTERN "*.md")
install(DIRECTORY examples/ DESTINATION ${SYNAPSOR_DOC_DIR}/examples
    PATTERN "*-trained.wgt" EXCLUDE)
