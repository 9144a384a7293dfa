# Runs one fuzz target over the seeds in SEEDS for RUNS inputs (at most
# MAX_SECONDS seconds) with a fixed random seed. New inputs are written to a
# fresh directory under WORK, the seeds are only read, and a crash, leak,
# timeout or out-of-memory input lands in WORK/artifacts.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/new ${WORK}/artifacts)
execute_process(
  COMMAND ${FUZZER} -seed=1 -runs=${RUNS} -max_total_time=${MAX_SECONDS} -timeout=30 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/ ${WORK}/new ${SEEDS}
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${status}); reproducers in ${WORK}/artifacts")
endif()
