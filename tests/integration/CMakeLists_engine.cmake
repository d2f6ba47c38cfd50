veltrin_add_test(engine_integration_tests
    SOURCES engine_dial_test.cpp
    LIBS veltrin_engine veltrin_workflows veltrin_test_support)
