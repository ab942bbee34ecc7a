# Manual pages for the tools, made at build time by help2man from each tool's own --help, so that a
# page never says other than the help. Without help2man (scripts/deps.sh package) there are none,
# nor in sanitized builds, whose tools are for the tests and may report at exit.
find_program(HELP2MAN_EXECUTABLE help2man)
if(NOT HELP2MAN_EXECUTABLE OR ORNUTILS_SANITIZE OR ORNUTILS_BUILD_FUZZ)
    message(STATUS "The tools' manual pages are not made (no help2man, or a sanitized build)")
    return()
endif()

set(ORNUTILS_MAN_DIR ${PROJECT_BINARY_DIR}/man)
set(ORNUTILS_MAN_PAGES)
# The tools have no --version of their own: the library's version names the page.
function(ornutils_man_page tool summary)
    set(page ${ORNUTILS_MAN_DIR}/${tool}.1)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ORNUTILS_MAN_DIR}
        COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${summary} --output=${page} $<TARGET_FILE:${tool}>
        # Debian's manual pages are compressed at most, without a name or time in the header.
        COMMAND gzip -9nf ${page}
        DEPENDS ${tool}
        VERBATIM)
    set(ORNUTILS_MAN_PAGES ${ORNUTILS_MAN_PAGES} ${page}.gz PARENT_SCOPE)
endfunction()

ornutils_man_page(ornlevel "show or set the logging levels of the OrnUtils applications")
ornutils_man_page(ornproxy "show how the OrnUtils applications choose a proxy for each URL")
add_custom_target(man-pages ALL DEPENDS ${ORNUTILS_MAN_PAGES})
install(FILES ${ORNUTILS_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
