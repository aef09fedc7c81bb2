# One short fuzzing run: FUZZER tries RUNS inputs grown from the committed
# CORPUS, with a fixed seed. New inputs and any crash file go to SCRATCH,
# emptied first, so the committed corpus is never written. MAX_LEN bounds the
# inputs (default 4096 bytes).
if(NOT MAX_LEN)
  set(MAX_LEN 4096)
endif()
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
execute_process(
  COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -max_len=${MAX_LEN} -timeout=20 -rss_limit_mb=2560
          -artifact_prefix=${SCRATCH}/ ${SCRATCH} ${CORPUS}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${SCRATCH}")
endif()
