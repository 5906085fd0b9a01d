# Runs one libFuzzer harness for a bounded time (CTest label "fuzz").
#   -DHARNESS=path -DNAME=name -DSECONDS=n -DSEEDS=dir -DCRASHES=dir -DWORK=dir
# New corpus entries go to WORK (in the build tree); the committed seed and
# crash directories are read only. A crash input is written to
# WORK/artifacts/ and the test fails: copy the file into CRASHES so that
# every build replays it from then on.
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
execute_process(
  COMMAND "${HARNESS}" -max_total_time=${SECONDS} -print_final_stats=1 -timeout=30
          -rss_limit_mb=2048 "-artifact_prefix=${WORK}/artifacts/"
          "${WORK}/corpus" "${SEEDS}" "${CRASHES}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NAME}: the fuzzer stopped with status ${rc}; the input is in ${WORK}/artifacts/")
endif()
