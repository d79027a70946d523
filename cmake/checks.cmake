# The checks that the presets of CMakePresets.json switch on: sanitizers for
# every target, clang-tidy over the system's own code, the clang-format check.

set(NOLVA_SANITIZE "" CACHE STRING "Sanitizers for every target, as for -fsanitize= (address,undefined or thread)")
if(NOLVA_SANITIZE)
  add_compile_options(-fsanitize=${NOLVA_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${NOLVA_SANITIZE})
endif()

option(NOLVA_CLANG_TIDY "Run clang-tidy (.clang-tidy) over the system's own code as it builds" OFF)

# nolva_lint(TARGETS...): the targets whose sources clang-tidy checks.
function(nolva_lint)
  if(NOT NOLVA_CLANG_TIDY)
    return()
  endif()
  find_program(NOLVA_CLANG_TIDY_PROGRAM clang-tidy REQUIRED)
  set_target_properties(${ARGN} PROPERTIES CXX_CLANG_TIDY "${NOLVA_CLANG_TIDY_PROGRAM}")
endfunction()

# check-format: fails when a C++ file is not as clang-format writes it.
find_program(NOLVA_CLANG_FORMAT_PROGRAM clang-format)
if(NOLVA_CLANG_FORMAT_PROGRAM)
  add_custom_target(check-format
    COMMAND ${CMAKE_COMMAND} -DCLANG_FORMAT=${NOLVA_CLANG_FORMAT_PROGRAM} -DROOT=${PROJECT_SOURCE_DIR}
            -P ${CMAKE_CURRENT_LIST_DIR}/check_format.cmake
    VERBATIM)
endif()
