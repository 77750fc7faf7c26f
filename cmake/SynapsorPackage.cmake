# The Debian binary package synapsor_<version>_<arch>.deb, made by `cpack -G DEB` in the build
# directory (`make package`) from the install rules. dpkg-shlibdeps (Debian dpkg-dev) works out
# the Depends line from the programs and libraries it holds.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME synapsor)
set(CPACK_PACKAGE_VENDOR "Synapsor developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Synapsor maintainers <maintainers@users.noreply.c-seed-a5aed8b5.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "trains multi-layer perceptrons by back-propagation")
set(CPACK_PACKAGE_DESCRIPTION
    "Synapsor is a console program that trains a layered feed-forward neural network
(a multi-layer perceptron) by error back-propagation, with momentum, batch or
online updates, learning with forgetting and a selection of input columns.
A parameter file names the network file, the training data set and the
learning parameters; the program prints the error of every epoch and writes
the trained network in the same text format.
.
The package also holds libsynapsor with its C++ headers, a CMake package
(find_package(Synapsor)) and a pkg-config file, for programs that load and
run trained networks themselves, and the man pages, documentation and examples.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
include(CPack)
