# Writes the header that names the commit a build was made from (run by the build
# before the batch program is compiled, and once when the build is configured):
#   cmake -DSOURCE_DIR=... -DOUTPUT=.../build_version.h [-DGIT=git] -P build_version.cmake
# The commit is `git rev-parse` of HEAD; the tree is "modified" when `git diff`
# finds a change of a tracked file against HEAD. Without git, or outside a
# repository, the commit is "unknown". The header is written only when its text
# changes, so that a build of the same commit compiles nothing again.
set(_commit "unknown")
set(_modified "")
if(GIT AND EXISTS "${GIT}")
  execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_rc EQUAL 0 AND _out MATCHES "^[0-9a-f]+$")
    set(_commit "${_out}")
    # --no-optional-locks: the index is not refreshed (no lock is taken), so that a
    # build beside a git command in the same tree never makes it fail.
    execute_process(COMMAND "${GIT}" --no-optional-locks -C "${SOURCE_DIR}" diff --quiet HEAD --
                    RESULT_VARIABLE _dirty OUTPUT_QUIET ERROR_QUIET)
    if(_dirty EQUAL 1)
      set(_modified ", modified")
    elseif(NOT _dirty EQUAL 0)
      set(_modified ", modified: unknown")
    endif()
  endif()
endif()
set(_text "// Written by cmake/build_version.cmake: the commit of this build.\n#pragma once\n#define TARMIC_BUILD_COMMIT \"commit ${_commit}${_modified}\"\n")
set(_old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" _old)
endif()
if(NOT _old STREQUAL _text)
  file(WRITE "${OUTPUT}" "${_text}")
endif()
