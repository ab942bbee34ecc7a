# The API reference (target docs, scripts/run.sh docs): HTML from the public headers' comments,
# with the README's opening and its tour as the main page. Every public class and function must be
# documented: a warning fails the build.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
    return()
endif()

# The README stays the one copy of the tour; the main page is cut from it at configure time.
file(READ ${PROJECT_SOURCE_DIR}/README.md ORNUTILS_README)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
string(FIND "${ORNUTILS_README}" "\n## Quick start" ORNUTILS_INTRO_END)
string(FIND "${ORNUTILS_README}" "\n## A tour of the families" ORNUTILS_TOUR_START)
if(ORNUTILS_INTRO_END LESS 0 OR ORNUTILS_TOUR_START LESS 0)
    message(FATAL_ERROR "README.md lacks the Quick start or the tour heading the main page is cut at")
endif()
string(SUBSTRING "${ORNUTILS_README}" 0 ${ORNUTILS_INTRO_END} ORNUTILS_INTRO)
math(EXPR ORNUTILS_TOUR_START "${ORNUTILS_TOUR_START} + 1")
string(SUBSTRING "${ORNUTILS_README}" ${ORNUTILS_TOUR_START} -1 ORNUTILS_TOUR)
string(FIND "${ORNUTILS_TOUR}" "\n## " ORNUTILS_TOUR_END)
string(SUBSTRING "${ORNUTILS_TOUR}" 0 ${ORNUTILS_TOUR_END} ORNUTILS_TOUR)
# Doxygen takes a lone double quote in a code span for the start of a string that runs past the
# span; as an entity it stays a quote.
string(REPLACE "`\\\"`" "`\\&quot;`" ORNUTILS_TOUR "${ORNUTILS_TOUR}")
set(ORNUTILS_MAIN_PAGE ${PROJECT_BINARY_DIR}/api/OrnUtils.md)
file(CONFIGURE OUTPUT ${ORNUTILS_MAIN_PAGE} CONTENT "@ORNUTILS_INTRO@\n\n@ORNUTILS_TOUR@\n" @ONLY)

set(DOXYGEN_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/api)
set(DOXYGEN_USE_MDFILE_AS_MAINPAGE ${ORNUTILS_MAIN_PAGE})
set(DOXYGEN_STRIP_FROM_PATH ${PROJECT_SOURCE_DIR}/include ${PROJECT_BINARY_DIR}/api)
set(DOXYGEN_STRIP_FROM_INC_PATH ${PROJECT_SOURCE_DIR}/include)
set(DOXYGEN_JAVADOC_AUTOBRIEF YES)
set(DOXYGEN_DISTRIBUTE_GROUP_DOC YES)
set(DOXYGEN_SORT_MEMBER_DOCS NO)
set(DOXYGEN_MACRO_EXPANSION YES)
set(DOXYGEN_EXPAND_ONLY_PREDEF YES)
set(DOXYGEN_PREDEFINED ORNUTILS_API=)
set(DOXYGEN_EXCLUDE_SYMBOLS OrnUtil::internal)
set(DOXYGEN_WARN_AS_ERROR FAIL_ON_WARNINGS)
set(DOXYGEN_QUIET YES)
doxygen_add_docs(docs ${PROJECT_SOURCE_DIR}/include ${ORNUTILS_MAIN_PAGE}
    COMMENT "API reference in ${PROJECT_BINARY_DIR}/api/html")
