# The proofs: power loss, resource bounds, stress.

nolva_add_test(power_cut_test power_cut_test.cc)

nolva_add_test(power_loss_test power_loss_test.cc LIBS nolva::core)
target_compile_definitions(power_loss_test PRIVATE NOLVA_BOOT_PATH="$<TARGET_FILE:nolva-boot>")
add_dependencies(power_loss_test nolva-boot)

nolva_add_test(resource_bounds_test resource_bounds_test.cc LIBS nolva_operation_table)
string(FIND "${CMAKE_CXX_FLAGS}" "-fsanitize=" sanitized)
target_compile_definitions(resource_bounds_test PRIVATE
  NOLVA_SANITIZED=$<IF:$<EQUAL:${sanitized},-1>,false,true>)

# The device's own objects call no heap allocation function; the board's
# control library, which uses std::string, shows the check can fail.
add_test(NAME Resources.LibrariesReferNoHeapAllocation
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -P ${CMAKE_CURRENT_SOURCE_DIR}/heap_symbols.cmake
          $<TARGET_FILE:nolva_core> $<TARGET_FILE:nolva_boot>)
add_test(NAME Resources.HeapCheckCatchesAnAllocatingLibrary
  COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -P ${CMAKE_CURRENT_SOURCE_DIR}/heap_symbols.cmake
          $<TARGET_FILE:nolva_board_control>)
set_tests_properties(Resources.HeapCheckCatchesAnAllocatingLibrary PROPERTIES
  PASS_REGULAR_EXPRESSION "heap allocation referenced:.*operator new")

# Threads on one manager: the ThreadSanitizer stage runs it (ctest -L stress).
nolva_add_test(stress_test stress_test.cc LIBS nolva::core LABELS stress)

nolva_add_test(lock_rule_test lock_rule_test.cc LIBS nolva::core)

# The lock rule lives in the types: each snippet compiles as written and
# fails to compile, with the diagnostic named, once it breaks the rule.
foreach(rule store_without_proof hold_outside_manager)
  set(compile ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only -I${PROJECT_SOURCE_DIR}
              ${CMAKE_CURRENT_SOURCE_DIR}/lock_rule/${rule}.cc)
  add_test(NAME LockRule.${rule}.kept COMMAND ${compile})
  add_test(NAME LockRule.${rule}.broken COMMAND ${compile} -DBREAK_RULE)
endforeach()
set_tests_properties(LockRule.store_without_proof.broken PROPERTIES
  PASS_REGULAR_EXPRESSION "HeldMutex.*pthread_mutex_t|pthread_mutex_t.*HeldMutex")
set_tests_properties(LockRule.hold_outside_manager.broken PROPERTIES
  PASS_REGULAR_EXPRESSION "private")
