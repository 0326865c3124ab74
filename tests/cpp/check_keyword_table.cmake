# One case of tests/cpp/keyword_tables/: the keyword table with the case's
# rows added, or the case's rows alone, compiled as a kernel file is (on its
# own, syntax only), must fail with the message of the rule the rows break
# and print the keyword that breaks it, or compile when the case expects that.
#
#   cmake -DCASE=path/to/case.rows -DSOURCE_DIR=... -DWORK_DIR=... \
#         -DCOMPILER=c++ "-DFLAGS=..." -P check_keyword_table.cmake
#
# A case file holds C++ rows and, in comments, "expect: compiles" or
# "expect: TEXT" (a part of the rule's message), "keyword: WORD", and
# "table: these rows alone" for a case that must not depend on the size or
# the words of the table it would be added to.
cmake_minimum_required(VERSION 3.18)

file(READ "${CASE}" case_text)
string(REGEX MATCH "// expect: ([^\n]*)" _ "${case_text}")
set(expected "${CMAKE_MATCH_1}")
string(REGEX MATCH "// keyword: ([^\n]*)" _ "${case_text}")
set(keyword "${CMAKE_MATCH_1}")
string(FIND "${case_text}" "// table: these rows alone" rows_alone)
if(expected STREQUAL "")
  message(FATAL_ERROR "${CASE} says nothing it expects (// expect: ...)")
endif()
string(REGEX REPLACE "//[^\n]*\n" "" rows "${case_text}")

# The header with the rows added at the end of its table, or in its place.
set(header "${SOURCE_DIR}/src/parser/keywords.hpp")
set(opening "inline constexpr Keyword keywords[] = {")
file(READ "${header}" text)
string(FIND "${text}" "${opening}" table_start)
if(table_start EQUAL -1)
  message(FATAL_ERROR "no keyword table (${opening}) in ${header}")
endif()
string(SUBSTRING "${text}" ${table_start} -1 table_on)
string(FIND "${table_on}" "\n};" table_length)
math(EXPR table_end "${table_start} + ${table_length} + 1")
if(rows_alone EQUAL -1)
  string(SUBSTRING "${text}" 0 ${table_end} before)
else()
  string(LENGTH "${opening}" opening_length)
  math(EXPR rows_start "${table_start} + ${opening_length}")
  string(SUBSTRING "${text}" 0 ${rows_start} before)
  string(APPEND before "\n")
endif()
string(SUBSTRING "${text}" ${table_end} -1 after)
get_filename_component(name "${CASE}" NAME_WE)
set(include_dir "${WORK_DIR}/${name}")
file(WRITE "${include_dir}/parser/keywords.hpp" "${before}${rows}${after}")

separate_arguments(flags UNIX_COMMAND "${FLAGS}")
execute_process(
  COMMAND "${COMPILER}" ${flags} -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror
          -I "${include_dir}" -I "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/parser/kernels/portable.cpp"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)

if(expected STREQUAL "compiles")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name}: the table should compile, but:\n${output}")
  endif()
  message(STATUS "${name}: compiles")
  return()
endif()
if(status EQUAL 0)
  message(FATAL_ERROR "${name}: the table compiled; it should fail with \"${expected}\"")
endif()
string(FIND "${output}" "keyword table: ${expected}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${name}: no \"keyword table: ${expected}\" in the compiler's output:\n${output}")
endif()
# Both GCC and clang print the template's letters as 'l', 'e', 'f', 't'.
if(NOT keyword STREQUAL "")
  string(LENGTH "${keyword}" length)
  math(EXPR last "${length} - 1")
  string(SUBSTRING "${keyword}" 0 1 letter)
  set(spelled "'${letter}'")
  foreach(k RANGE 1 ${last})
    string(SUBSTRING "${keyword}" ${k} 1 letter)
    string(APPEND spelled ", '${letter}'")
  endforeach()
  string(FIND "${output}" "${spelled}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name}: the compiler's output does not name the keyword (${spelled}):\n${output}")
  endif()
endif()
message(STATUS "${name}: fails with \"keyword table: ${expected}\"")
