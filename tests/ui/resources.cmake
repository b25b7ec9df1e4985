# The compiled dialog template, icon group and version record, read back from the test's own module.
varnell_test(ui_resources_tests ${CMAKE_CURRENT_LIST_DIR}/dialog_template_test.cpp)
target_link_libraries(ui_resources_tests PRIVATE varnell_resources varnell_version version)
