# Fails unless the dynamic symbol table of LIBRARY defines get_ifirmware and
# no other symbol of the project (anything not from the C++ runtime or Qt).
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found FALSE)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" sym "${line}")
  if(sym STREQUAL "get_ifirmware")
    set(found TRUE)
  elseif(sym MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
    # linker-provided section markers
  elseif(sym MATCHES "^__(asan|ubsan|tsan|sanitizer|lsan)")
    # sanitizer hooks in instrumented builds
  else()
    message(FATAL_ERROR "unexpected exported symbol: ${sym}")
  endif()
endforeach()
if(NOT found)
  message(FATAL_ERROR "get_ifirmware is not exported by ${LIBRARY}")
endif()
message(STATUS "${LIBRARY}: exports get_ifirmware only")
