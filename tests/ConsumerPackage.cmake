# Installs the build into a scratch prefix, then builds and runs examples/consumer against it,
# once through find_package and once through pkg-config.
set(work ${BUILD_DIR}/consumer-test)
set(prefix ${work}/prefix)
file(REMOVE_RECURSE ${work})

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
    endif()
    set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_consumer_output text)
    if(NOT text MATCHES "Utils 4\\.0\\.0\\.51\n.*WARN   consumer linked")
        message(FATAL_ERROR "unexpected consumer output:\n${text}")
    endif()
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

run("configure with find_package" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${work}/build
    -G Ninja -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${FLAGS}")
run("build with find_package" ${CMAKE_COMMAND} --build ${work}/build)
run("consumer from find_package" ${work}/build/consumer)
expect_consumer_output("${output}")

file(GLOB_RECURSE pc_file ${prefix}/*/ornutils.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
run("pkg-config" pkg-config --cflags --libs ornutils)
string(STRIP "${output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(extra_flags UNIX_COMMAND "${FLAGS}")
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)
run("build with pkg-config" ${CXX} ${extra_flags} ${SOURCE_DIR}/examples/consumer/main.cpp ${pc_flags}
    -Wl,-rpath,${lib_dir} -o ${work}/consumer-pc)
run("consumer from pkg-config" ${work}/consumer-pc)
expect_consumer_output("${output}")
message(STATUS "consumer linked through find_package and pkg-config")
