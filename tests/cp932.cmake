vesk_add_test(tst_cp932 SOURCES tst_cp932.cpp cp932reference.h LIBS vesk_codepage)
vesk_add_test(tst_cp932_cases SOURCES tst_cp932_cases.cpp cp932reference.h LIBS vesk_codepage)
