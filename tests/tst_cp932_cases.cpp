// The code page 932 converter and the payload on cases worth spelling out:
// best fits, the characters Windows lacks, broken sequences, and what a
// message text travels as.
#include "platform/udp/Payload.h"
#include "platform/udp/cp932.h"

#include "cp932reference.h"

#include <QTest>

using namespace vesk::cp932;
using cp932ref::hex;
using cp932ref::units;

class TestCp932Cases : public QObject {
    Q_OBJECT

private slots:
    void encodeCases_data();
    void encodeCases();
    void decodeCases_data();
    void decodeCases();
    void payloadCases_data();
    void payloadCases();
};

void TestCp932Cases::encodeCases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("mixed ascii kana kanji")
        << QStringLiteral(u"Vesk: こんにちは、ｶﾀｶﾅ 漢字 OK 123")
        << QByteArray::fromHex("5665736b3a2082b182f182c982bf82cd8141b6c0b6c5208abf8e9a204f4b20313233");
    QTest::newRow("nul kept") << QStringView(u"a\0b", 3).toString() << QByteArray("a\0b", 3);
    QTest::newRow("backslash stays") << QStringLiteral("\\~") << QByteArray("\\~");
    QTest::newRow("yen best fit") << QStringLiteral(u"\u00A5100") << QByteArray("\\100");
    QTest::newRow("latin letters best fit") << QStringLiteral(u"\u00C0\u00E9\u00F1") << QByteArray("Aen");
    QTest::newRow("middle dot best fit") << QStringLiteral(u"\u00B7") << QByteArray::fromHex("8145");
    QTest::newRow("katakana middle dot") << QStringLiteral(u"\u30FB") << QByteArray::fromHex("8145");
    QTest::newRow("cent sign best fit") << QStringLiteral(u"\u00A2") << QByteArray::fromHex("8191");
    QTest::newRow("full-width tilde") << QStringLiteral(u"\uFF5E") << QByteArray::fromHex("8160");
    QTest::newRow("wave dash unmapped") << QStringLiteral(u"\u301C") << QByteArray("?");
    QTest::newRow("horizontal bar") << QStringLiteral(u"\u2015") << QByteArray::fromHex("815c");
    QTest::newRow("em dash unmapped") << QStringLiteral(u"\u2014") << QByteArray("?");
    QTest::newRow("minus sign unmapped") << QStringLiteral(u"\u2212") << QByteArray("?");
    QTest::newRow("full-width hyphen-minus") << QStringLiteral(u"\uFF0D") << QByteArray::fromHex("817c");
    QTest::newRow("not equal to nec row") << QStringLiteral(u"\u2252") << QByteArray::fromHex("81e0");
    QTest::newRow("ibm kanji") << QStringLiteral(u"\u7E8A") << QByteArray::fromHex("fa5c");
    QTest::newRow("private use") << QStringLiteral(u"\uE000\uF8F0\uF8F3")
                                 << QByteArray::fromHex("f040a0ff");
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + "x" << QByteArray("?x");
    QTest::newRow("lone low surrogate") << "x" + QString(QChar(0xDE00)) << QByteArray("x?");
    QTest::newRow("emoji per unit") << QStringLiteral(u"a\U0001F600b") << QByteArray("a??b");
    QTest::newRow("noncharacter") << QStringLiteral(u"\uFFFF") << QByteArray("?");
}

void TestCp932Cases::encodeCases()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hex(encode(text)), hex(bytes));
}

void TestCp932Cases::decodeCases_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("mixed ascii kana kanji")
        << QByteArray::fromHex("5665736b3a2082b182f182c982bf82cd8141b6c0b6c5208abf8e9a204f4b20313233")
        << QStringLiteral(u"Vesk: こんにちは、ｶﾀｶﾅ 漢字 OK 123");
    QTest::newRow("nul kept") << QByteArray("a\0b", 3) << QStringView(u"a\0b", 3).toString();
    QTest::newRow("0x5c is backslash") << QByteArray("\\") << QStringLiteral("\\");
    QTest::newRow("lead byte at end") << QByteArray::fromHex("4182") << QStringLiteral(u"A\u30FB");
    QTest::newRow("lead byte alone") << QByteArray::fromHex("e0") << QStringLiteral(u"\u30FB");
    QTest::newRow("lead takes a space") << QByteArray::fromHex("812041") << QStringLiteral(u"\u30FBA");
    QTest::newRow("lead leaves a nul") << QByteArray::fromHex("810041") << QStringView(u"\u30FB\0A", 3).toString();
    QTest::newRow("lead leaves a nul at the end") << QByteArray::fromHex("e000") << QStringView(u"\u30FB\0", 2).toString();
    QTest::newRow("lead takes a lead") << QByteArray::fromHex("818141") << QStringLiteral(u"\uFF1DA");
    QTest::newRow("lead takes 0x7f") << QByteArray::fromHex("817f") << QStringLiteral(u"\u30FB");
    QTest::newRow("lead takes 0xfd") << QByteArray::fromHex("81fd") << QStringLiteral(u"\u30FB");
    QTest::newRow("empty lead row") << QByteArray::fromHex("8540") << QStringLiteral(u"\u30FB");
    QTest::newRow("0x80") << QByteArray::fromHex("80") << QStringLiteral(u"\u0080");
    QTest::newRow("0xa0") << QByteArray::fromHex("a0") << QStringLiteral(u"\uF8F0");
    QTest::newRow("0xfd-0xff") << QByteArray::fromHex("fdfeff") << QStringLiteral(u"\uF8F1\uF8F2\uF8F3");
    QTest::newRow("half-width katakana") << QByteArray::fromHex("a1dfb1") << QStringLiteral(u"｡ﾟｱ");
    QTest::newRow("full-width tilde") << QByteArray::fromHex("8160") << QStringLiteral(u"\uFF5E");
    QTest::newRow("horizontal bar") << QByteArray::fromHex("815c") << QStringLiteral(u"\u2015");
    QTest::newRow("full-width hyphen-minus") << QByteArray::fromHex("817c") << QStringLiteral(u"\uFF0D");
    QTest::newRow("nec row duplicate") << QByteArray::fromHex("8790") << QStringLiteral(u"\u2252");
    QTest::newRow("nec ibm duplicate") << QByteArray::fromHex("ed40fa5c") << QStringLiteral(u"\u7E8A\u7E8A");
    QTest::newRow("user-defined area") << QByteArray::fromHex("f040f9fc") << QStringLiteral(u"\uE000\uE757");
    QTest::newRow("sentence")
        << QByteArray::fromHex("8da193fa82cd90b082ea8142")
        << QStringLiteral(u"今日は晴れ。");
}

void TestCp932Cases::decodeCases()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(units(decode(bytes)), units(text));
}

// What a message text travels as, and what the partner reads from it.
void TestCp932Cases::payloadCases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("delivered");
    QTest::newRow("plain") << QStringLiteral(u"日本語 ok") << QByteArray::fromHex("93fa967b8cea206f6b")
                           << QStringLiteral(u"日本語 ok");
    // Linux input methods write these JIS-style code points; Windows users send
    // the code page's own, so they must arrive the same.
    QTest::newRow("wave dash") << QStringLiteral(u"10時\u301C12時") << QByteArray::fromHex("31308e9e816031328e9e")
                               << QStringLiteral(u"10時\uFF5E12時");
    QTest::newRow("double vertical line, minus, em dash")
        << QStringLiteral(u"\u2016\u2212\u2014") << QByteArray::fromHex("8161817c815c")
        << QStringLiteral(u"\u2225\uFF0D\u2015");
    QTest::newRow("code page's own forms unchanged")
        << QStringLiteral(u"\uFF5E\u2225\uFF0D\u2015") << QByteArray::fromHex("81608161817c815c")
        << QStringLiteral(u"\uFF5E\u2225\uFF0D\u2015");
    QTest::newRow("best fit arrives as its fit") << QStringLiteral(u"\u00A5100") << QByteArray("\\100")
                                                 << QStringLiteral("\\100");
    QTest::newRow("emoji and Hangul arrive as '?'") << QStringLiteral(u"\U0001F600\uD55C") << QByteArray("???")
                                                     << QStringLiteral("???");
}

void TestCp932Cases::payloadCases()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, delivered);
    QCOMPARE(hex(vesk::payload::fromText(text)), hex(bytes));
    QCOMPARE(vesk::payload::toText(bytes), delivered);
    QCOMPARE(vesk::payload::asDelivered(text), delivered);
}

QTEST_GUILESS_MAIN(TestCp932Cases)
#include "tst_cp932_cases.moc"
