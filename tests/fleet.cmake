# The fleet playbooks (examples/fleet) run by ansible-playbook against four
# simulated boards, each with its own nolvad. Debian's python3: pytest,
# requests and Ansible are its packages (tools/test installs them), not those
# of another Python first on the PATH.
if(TARGET nolvad)
  find_program(NOLVA_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  add_test(NAME fleet_playbooks
    COMMAND ${NOLVA_SYSTEM_PYTHON3} -m pytest -q -s -p no:cacheprovider
      --basetemp=${CMAKE_CURRENT_BINARY_DIR}/fleet-work
      ${CMAKE_CURRENT_SOURCE_DIR}/fleet_playbooks_test.py)
  set_tests_properties(fleet_playbooks PROPERTIES
    LABELS "fleet;default-only"
    TIMEOUT 240
    ENVIRONMENT "NOLVA_BOARD_TOOL=$<TARGET_FILE:nolva-board>;NOLVAD=$<TARGET_FILE:nolvad>;PYTHONDONTWRITEBYTECODE=1")
endif()
