# The web console (console/): its embedded files in C++, then from Python:
# Chromium driven by Selenium against nolvad on a fresh board, and nolvad
# under strace for the paths outside /api/. The Python tests run only in the
# default build: the browser and strace watch the program, not the
# sanitizers or qemu.
nolva_add_test(console_assets_test ${CMAKE_CURRENT_LIST_DIR}/assets_test.cc LIBS nolva_console)
target_compile_definitions(console_assets_test PRIVATE
  NOLVA_CONSOLE_DIR="${PROJECT_SOURCE_DIR}/console")

if(TARGET nolvad)
  nolva_add_pytest(console_browser ${CMAKE_CURRENT_LIST_DIR}/test_console.py
    TIMEOUT 900 LABELS browser default-only)
  nolva_add_pytest(console_from_memory ${CMAKE_CURRENT_LIST_DIR}/test_from_memory.py
    TIMEOUT 120 LABELS default-only)
endif()
