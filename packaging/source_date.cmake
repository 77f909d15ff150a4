# Read by cpack before it makes each package. The package generators, and
# packaging/normalise.cmake after them, take every time stamp from SOURCE_DATE_EPOCH, so the
# same commit gives the same package bytes. Unless the caller set it, it is the commit time of
# the source tree, or outside a git checkout a fixed time.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  # The date of the first packages.
  set(pagehop_epoch 1796699412)
  find_program(PAGEHOP_GIT git)
  if(PAGEHOP_GIT)
    # git refuses a checkout that another user owns unless told that it is safe, and then this
    # would quietly give the fixed time: whoever packages the tree reads its commit time.
    file(REAL_PATH ${CPACK_PAGEHOP_SOURCE_DIR} pagehop_source)
    execute_process(COMMAND ${PAGEHOP_GIT} -c safe.directory=${pagehop_source} -C ${pagehop_source}
      log -1 --format=%ct
      RESULT_VARIABLE status OUTPUT_VARIABLE commit_time ERROR_QUIET
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(pagehop_epoch ${commit_time})
    endif()
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${pagehop_epoch})
endif()
