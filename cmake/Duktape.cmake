# PAC scripts come from the network and run inside the application, so they must be stoppable. The
# duktape that Debian ships as a library cannot interrupt a running script; Debian also ships its
# source (duktape-dev, /usr/share/duktape), which is compiled here with the execution-timeout hook
# switched on. Its symbols stay hidden inside libOrnUtils.so, so an application's own duktape does
# not clash with it.
set(DUKTAPE_SOURCE_DIR /usr/share/duktape CACHE PATH "Where duktape.c and duk_config.h are")
if(NOT EXISTS ${DUKTAPE_SOURCE_DIR}/duktape.c)
    message(FATAL_ERROR "duktape.c not found in ${DUKTAPE_SOURCE_DIR}: run scripts/deps.sh build")
endif()

set(DUKTAPE_BUILD_DIR ${PROJECT_BINARY_DIR}/duktape)
# duktape.c includes "duk_config.h" from its own folder, so it is copied next to the configuration
# that adds the hook at the configuration's override point.
configure_file(${DUKTAPE_SOURCE_DIR}/duktape.c ${DUKTAPE_BUILD_DIR}/duktape.c COPYONLY)
configure_file(${DUKTAPE_SOURCE_DIR}/duktape.h ${DUKTAPE_BUILD_DIR}/duktape.h COPYONLY)
file(READ ${DUKTAPE_SOURCE_DIR}/duk_config.h DUKTAPE_CONFIG)
file(READ ${PROJECT_SOURCE_DIR}/cmake/duktape/overrides.h DUKTAPE_OVERRIDES)
string(FIND "${DUKTAPE_CONFIG}" "/* __OVERRIDE_DEFINES__ */" DUKTAPE_OVERRIDE_AT)
if(DUKTAPE_OVERRIDE_AT LESS 0)
    message(FATAL_ERROR "${DUKTAPE_SOURCE_DIR}/duk_config.h has no override point")
endif()
string(REPLACE "/* __OVERRIDE_DEFINES__ */" "${DUKTAPE_OVERRIDES}" DUKTAPE_CONFIG "${DUKTAPE_CONFIG}")
file(CONFIGURE OUTPUT ${DUKTAPE_BUILD_DIR}/duk_config.h CONTENT "${DUKTAPE_CONFIG}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${DUKTAPE_SOURCE_DIR}/duk_config.h ${PROJECT_SOURCE_DIR}/cmake/duktape/overrides.h)

# Compiled as C++ so that its errors unwind as exceptions: the helper functions that scripts call
# can then hold C++ objects safely across calls into the interpreter. Not our code: its warnings
# are not ours to fix, and it is optimised in every build: a script's bounds are measured in its
# run time, which an unoptimised interpreter would stretch several times over.
set(DUKTAPE_SOURCE ${DUKTAPE_BUILD_DIR}/duktape.c)
# The sanitizers are left out of it too: instrumented, it runs scripts several times slower, and
# the bounds the tests check are the library's, not the interpreter's.
set_source_files_properties(${DUKTAPE_SOURCE} PROPERTIES LANGUAGE CXX
    COMPILE_OPTIONS "-w;-O2;-fno-sanitize=all")
