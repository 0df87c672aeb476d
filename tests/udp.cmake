# Binds test ports of its own, and 1002 for the privileged-port message.
vesk_add_test(tst_winsock SOURCES tst_winsock.cpp LIBS vesk_udp BINDS_PORTS TIMEOUT 120)
