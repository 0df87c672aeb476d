vesk_add_test(tst_cp932 SOURCES tst_cp932.cpp LIBS vesk_udp)
