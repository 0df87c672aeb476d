vesk_add_test(tst_conversation SOURCES tst_conversation.cpp testsupport.h underwine.h LIBS vesk_app BINDS_PORTS)
vesk_add_test(tst_rules SOURCES tst_rules.cpp LIBS vesk_rules)
vesk_add_test(tst_flood SOURCES tst_flood.cpp testsupport.h LIBS vesk_app BINDS_PORTS)
