# Runs panelrun for 300 ms and checks the state lines it prints.
execute_process(COMMAND ${PANELRUN} --run-ms 300 --port 42301
  INPUT_FILE /dev/null
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc
  TIMEOUT 30)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "panelrun exited with ${rc}:\n${err}")
endif()
string(REGEX MATCHALL "state [0-9]+ [A-Z_]+" states "${err}")
set(expected "state 7 ST_THREAD_STARTED;state 8 ST_RUNNING;state 9 ST_STOPPING;state 10 ST_THREAD_FINISHED")
if(NOT states STREQUAL expected)
  message(FATAL_ERROR "unexpected states: ${states}\n${err}")
endif()
if(err MATCHES "ThreadSanitizer|AddressSanitizer|runtime error")
  message(FATAL_ERROR "sanitizer report:\n${err}")
endif()
