# cmake -DCLANG_FORMAT=clang-format -DROOT=<source dir> -P check_format.cmake
# Every C++ file of the source tree, build trees and hidden folders aside.
cmake_minimum_required(VERSION 3.21)

file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/*.cc" "${ROOT}/*.h")
list(FILTER files EXCLUDE REGEX "^(build|out)|(^|/)\\.")
list(SORT files)
list(LENGTH files count)
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files}
                WORKING_DIRECTORY "${ROOT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-format: run `clang-format -i` on the files above")
endif()
message(STATUS "clang-format: all ${count} C++ files as formatted")
