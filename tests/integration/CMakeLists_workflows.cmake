veltrin_add_test(workflow_integration_tests
    SOURCES connect_workflow_test.cpp
    LIBS veltrin_workflows veltrin_engine veltrin_platform veltrin_test_support)
