# Included from tests/integration/CMakeLists.txt. Test names start with "lab." so
# `ctest -R lab` selects them.
function(veltrin_add_lab_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE veltrin_test_support veltrin_lab_core
                          GTest::gtest GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${name} TEST_PREFIX "lab." DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "${VELTRIN_TEST_ENV}" TIMEOUT 120)
endfunction()

veltrin_add_lab_test(lab_config_test ${CMAKE_CURRENT_LIST_DIR}/lab_config_test.cpp)
veltrin_add_lab_test(lab_line_test ${CMAKE_CURRENT_LIST_DIR}/lab_line_test.cpp)
veltrin_add_lab_test(lab_admin_test ${CMAKE_CURRENT_LIST_DIR}/lab_admin_test.cpp)
veltrin_add_lab_test(lab_process_test ${CMAKE_CURRENT_LIST_DIR}/lab_process_test.cpp)
