# Debian packages of the install components, made by CPack from a release build configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/run.sh package): libornutils4 (runtime), libornutils-dev (dev)
# and ornutils-tools (tools).
set(ORNUTILS_PACKAGE_MAINTAINER "OrnUtils maintainers <ornutils@marlek.example>"
    CACHE STRING "The Maintainer field of the Debian packages")

set(ORNUTILS_RUNTIME_PACKAGE libornutils${PROJECT_VERSION_MAJOR})
set(ORNUTILS_DEV_PACKAGE libornutils-dev)
set(ORNUTILS_TOOLS_PACKAGE ornutils-tools)

# Every Debian package carries its copyright and, being native (no Debian revision), its changelog,
# compressed at most and without a name or time in the header. Only the packages want them.
set(ORNUTILS_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
configure_file(cmake/debian/changelog.in ${ORNUTILS_DEBIAN_DIR}/changelog @ONLY)
execute_process(COMMAND gzip -9nc
    INPUT_FILE ${ORNUTILS_DEBIAN_DIR}/changelog
    OUTPUT_FILE ${ORNUTILS_DEBIAN_DIR}/changelog.gz
    COMMAND_ERROR_IS_FATAL ANY)
foreach(component runtime dev tools)
    string(TOUPPER ${component} COMPONENT)
    install(FILES cmake/debian/copyright ${ORNUTILS_DEBIAN_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ORNUTILS_${COMPONENT}_PACKAGE}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ornutils)
set(CPACK_PACKAGE_VENDOR Marlek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ornutils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ORNUTILS_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The SONAME changes with the interface, so any later 4.x serves what was built against this one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary before each package's own description unless it is CPack's default: each
# package's first line is its synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ORNUTILS_RUNTIME_PACKAGE})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader's cache is refreshed through dpkg's trigger. CPack 3.25 also calls ldconfig from the
# maintainer scripts it writes for any library under /usr/lib; that second run is harmless.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "shared services of the Orn application family (library)
The library that the applications of the Orn product family load for the
services they share: a logger whose per-subsystem levels every process reads
from one shared file, byte buffers, channels with cancellable receives and
length-prefixed messages, an HTTP client that asks a proxy resolver before
every request, date and character-set conversion, and helpers for names,
strings, threads, run-time libraries and child processes.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${ORNUTILS_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The public header includes libcurl's.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "${ORNUTILS_RUNTIME_PACKAGE} (= ${PROJECT_VERSION}), libcurl4-openssl-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "shared services of the Orn application family (development files)
The headers, the development link, a CMake package (find_package(OrnUtils))
and a pkg-config file (ornutils) for building applications against
libOrnUtils.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${ORNUTILS_TOOLS_PACKAGE})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "field tools for the logging and proxies of the Orn applications
ornlevel shows and sets the logging levels that every process of the Orn
application family reads from the shared level file; ornproxy shows which
proxy the applications would use for a URL, and why.")

include(CPack)
