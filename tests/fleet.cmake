# The fleet playbooks (examples/fleet) run by ansible-playbook against four
# simulated boards, each with its own nolvad.
if(TARGET nolvad)
  nolva_add_pytest(fleet_playbooks ${CMAKE_CURRENT_SOURCE_DIR}/fleet
    TIMEOUT 240 LABELS fleet default-only)
endif()
