vesk_add_test(tst_transcript SOURCES tst_transcript.cpp LIBS vesk_conversation)
vesk_add_test(tst_windows SOURCES tst_windows.cpp testsupport.h LIBS vesk_app BINDS_PORTS)
vesk_add_test(tst_layout SOURCES tst_layout.cpp testsupport.h LIBS vesk_app)
vesk_add_test(tst_longlines SOURCES tst_longlines.cpp LIBS vesk_conversation)
