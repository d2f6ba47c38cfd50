# Included from tests/integration/CMakeLists.txt: the client's service code against a running lab.
veltrin_add_test(service_lab_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_lab_test.cpp ${CMAKE_CURRENT_LIST_DIR}/service_lab_ip_test.cpp
    LIBS veltrin_service veltrin_engine veltrin_workflows veltrin_test_support veltrin_lab_core)
