# Runs matsheet once and checks its standard output and its exit status.
#
#   MATSHEET  the program            EMULATOR  what runs it on this host, if anything
#   DIR       working directory      ARGS      its arguments
#   INPUT     file for standard input (optional)
#   MEMORY    address-space limit in kB to run it under (ulimit -v; optional)
#   EXPECT    file with the exact expected output (optional)
#   MATCH     regular expression the output must match (optional)
#   STATUS    expected exit status; by default 1 when EXPECT holds a host error, else 0
#   ACTUAL    where to keep the output when it differs from EXPECT
#
# EMULATOR and ARGS separate their words with '|'.
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
set(input)
if(INPUT)
  set(input INPUT_FILE ${INPUT})
endif()
set(limit)
if(MEMORY)
  set(limit sh -c "ulimit -v ${MEMORY} && exec \"$@\"" sh)
endif()
execute_process(COMMAND ${limit} ${emulator} ${MATSHEET} ${args} WORKING_DIRECTORY ${DIR} ${input}
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)

set(problems)
if(EXPECT)
  file(READ ${DIR}/${EXPECT} expected)
  if(NOT DEFINED STATUS)
    string(FIND "${expected}" "\"host_error\"" hostError)
    if(hostError EQUAL -1)
      set(STATUS 0)
    else()
      set(STATUS 1)
    endif()
  endif()
  if(NOT output STREQUAL expected)
    file(WRITE ${ACTUAL} "${output}")
    execute_process(COMMAND diff -u ${DIR}/${EXPECT} ${ACTUAL} OUTPUT_VARIABLE difference)
    list(APPEND problems "the output differs from ${EXPECT}:\n${difference}")
  endif()
endif()
if(MATCH AND NOT output MATCHES "${MATCH}")
  list(APPEND problems "the output does not match '${MATCH}':\n${output}")
endif()
if(NOT DEFINED STATUS)
  set(STATUS 0)
endif()
if(NOT status STREQUAL STATUS)
  list(APPEND problems "exit status ${status}, expected ${STATUS}")
endif()
if(problems)
  message(FATAL_ERROR "matsheet ${ARGS}\n${problems}\nstandard error:\n${errors}")
endif()
