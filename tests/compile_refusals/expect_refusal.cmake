# Compiles one case of a compile-refusal source and judges the compiler's answer:
#   cmake -DCOMPILE=<compiler|arg|arg...> -DREFUSAL=<kind[,kind]> -P expect_refusal.cmake
# (the compile command's words are joined by '|'). REFUSAL "none" expects the case
# to compile. Otherwise a failed compilation is expected in which every error is
# one of the refusals named (a form may meet two: a poisoned template whose use
# also instantiates an ambiguous extraction), in the wording of either compiler
# the project builds with (GCC, Clang): a case refused for another reason (a
# missing header, a typing slip) or not refused at all fails.
#   poisoned   a name poisoned by "#pragma GCC poison"
#   ambiguous  an operator>> that meets a deleted overload beside the stream's own
#   deleted    a call that resolves to a deleted function
cmake_minimum_required(VERSION 3.20)

set(_patterns_poisoned "attempt to use (a )?poisoned")
set(_patterns_ambiguous "ambiguous overload for 'operator>>'"
                        "use of overloaded operator '>>' is ambiguous")
set(_patterns_deleted "use of deleted function" "call to deleted function"
                      "overload resolution selected deleted operator")

if(NOT DEFINED COMPILE OR NOT DEFINED REFUSAL)
  message(FATAL_ERROR "expect_refusal.cmake needs COMPILE and REFUSAL")
endif()
string(REPLACE "|" ";" _command "${COMPILE}")
# The compilers' messages in plain ASCII quotes, whatever the locale of the test.
set(ENV{LC_ALL} C)
execute_process(COMMAND ${_command} RESULT_VARIABLE _status
                OUTPUT_VARIABLE _out ERROR_VARIABLE _out)

if(REFUSAL STREQUAL "none")
  if(NOT _status EQUAL 0)
    message(FATAL_ERROR "the allowed forms do not compile:\n${_out}")
  endif()
  return()
endif()
string(REPLACE "," ";" _kinds "${REFUSAL}")
set(_patterns "")
foreach(_kind IN LISTS _kinds)
  if(NOT DEFINED _patterns_${_kind})
    message(FATAL_ERROR "unknown refusal '${_kind}'")
  endif()
  list(APPEND _patterns ${_patterns_${_kind}})
endforeach()
if(_status EQUAL 0)
  message(FATAL_ERROR "the form compiled; expected a refusal (${REFUSAL}):\n${_out}")
endif()

# One list element per line: the list's own separators and brackets out first.
string(REPLACE ";" "," _text "${_out}")
string(REPLACE "[" "(" _text "${_text}")
string(REPLACE "]" ")" _text "${_text}")
string(REPLACE "\n" ";" _lines "${_text}")
set(_refusals 0)
set(_others "")
foreach(_line IN LISTS _lines)
  if(NOT _line MATCHES "error: ")
    continue()
  endif()
  set(_matched FALSE)
  foreach(_pattern IN LISTS _patterns)
    if(_line MATCHES "${_pattern}")
      set(_matched TRUE)
    endif()
  endforeach()
  if(_matched)
    math(EXPR _refusals "${_refusals} + 1")
  else()
    string(APPEND _others "${_line}\n")
  endif()
endforeach()
if(_refusals EQUAL 0 OR NOT _others STREQUAL "")
  message(FATAL_ERROR "expected only the refusal '${REFUSAL}'; other errors:\n${_others}\n"
                      "the compiler said:\n${_out}")
endif()
message(STATUS "refused (${REFUSAL}): ${_refusals} error(s)")
