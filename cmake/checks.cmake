# The checks that the lint preset of CMakePresets.json switches on: clang-tidy
# over the system's own code and the clang-format check. (The sanitizer
# presets only set the compiler and its flags.)

option(NOLVA_CLANG_TIDY "Run clang-tidy (.clang-tidy) over the system's own code as it builds" OFF)
if(NOLVA_CLANG_TIDY)
  find_program(NOLVA_CLANG_TIDY_PROGRAM clang-tidy REQUIRED)
  # The targets that hold boot/, store/, accounts/ and management/; deferred
  # to the end of the top directory, where they all exist.
  cmake_language(DEFER CALL set_target_properties
    nolva_core nolva_boot nolva-boot PROPERTIES CXX_CLANG_TIDY ${NOLVA_CLANG_TIDY_PROGRAM})
endif()

# check-format: fails when a C++ file is not as clang-format writes it.
find_program(NOLVA_CLANG_FORMAT_PROGRAM clang-format)
if(NOLVA_CLANG_FORMAT_PROGRAM)
  add_custom_target(check-format
    COMMAND ${CMAKE_COMMAND} -DCLANG_FORMAT=${NOLVA_CLANG_FORMAT_PROGRAM} -DROOT=${PROJECT_SOURCE_DIR}
            -P ${CMAKE_CURRENT_LIST_DIR}/check_format.cmake
    VERBATIM)
endif()

# check-test-ratio: fails when the test suite outweighs 0.40 of the rest of
# the code (tools/test-ratio).
add_custom_target(check-test-ratio
  COMMAND ${PROJECT_SOURCE_DIR}/tools/test-ratio
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  VERBATIM)
