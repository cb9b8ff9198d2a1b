# Writes OUTPUT, the source of tervik::version_text(): the project's VERSION and, where
# SOURCE_DIR is a git checkout, its revision ("0.1, git 1995a85ffdcc", "-dirty" after it when
# tracked files differ from the commit). Run at every build; the file is rewritten only when its
# text changes, so that an unchanged revision rebuilds nothing.
#   cmake -DSOURCE_DIR=... -DVERSION=... -DOUTPUT=... -P version.cmake
set(text "${VERSION}")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12
                  OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                  RESULT_VARIABLE status)
  if(status EQUAL 0 AND revision MATCHES "^[A-Za-z0-9._-]+$")
    string(APPEND text ", git ${revision}")
  endif()
endif()
set(content "// Written by cmake/version.cmake at build time.\n#include \"common/version.h\"\n\nconst char* tervik::version_text() { return \"${text}\"; }\n")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
