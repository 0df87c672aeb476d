# Bind test ports of their own; tst_winsock also 1002 for the privileged-port message.
vesk_add_test(tst_winsock SOURCES tst_winsock.cpp winsocksupport.h LIBS vesk_udp BINDS_PORTS)
vesk_add_test(tst_winsock_receive SOURCES tst_winsock_receive.cpp winsocksupport.h LIBS vesk_udp BINDS_PORTS)
vesk_add_test(tst_winsock_send SOURCES tst_winsock_send.cpp winsocksupport.h underwine.h LIBS vesk_udp BINDS_PORTS)
