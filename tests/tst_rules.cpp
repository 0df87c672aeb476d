// The control-character filter and the receive rule, without any window.
#include "conversation/MessageRules.h"

#include "platform/udp/cp932.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestRules : public QObject {
    Q_OBJECT
private slots:
    void cutCtrret_data();
    void cutCtrret();
    void cutCtrretFollowsTheCodePageForEveryUnit();
    void linesAsThePartnerSeesThem_data();
    void linesAsThePartnerSeesThem();
};

void TestRules::cutCtrret_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("abc") << u"abc"_s << u"abc"_s;
    QTest::newRow("CR LF inside") << u"a\r\nb"_s << u"ab"_s;
    QTest::newRow("tab and escape") << u"\tx\x1b"_s << u"x"_s;
    QTest::newRow("space stays") << u" "_s << u" "_s;
    QTest::newRow("kanji") << u"日本語"_s << u"日本語"_s;
    QTest::newRow("DEL stays") << u"\x7f"_s << u"\x7f"_s;
    QTest::newRow("half-width katakana") << u"ｱ"_s << u"ｱ"_s;
    QTest::newRow("NUL in the middle") << QString::fromUtf16(u"a\0b", 3) << u"ab"_s;
    QTest::newRow("unit separator") << u"\x1f!"_s << u"!"_s;
    QTest::newRow("C1 control passes") << u"\u0085"_s << u"\u0085"_s;
    QTest::newRow("surrogate pair passes") << u"😀"_s << u"😀"_s;
}

void TestRules::cutCtrret()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    const QString before = in;
    QCOMPARE(vesk::CutCtrret(in), out);
    QCOMPARE(in, before); // the argument is left as it was
}

// The filter is defined through the code page: a unit goes when its code, as a
// signed 16-bit number, lies in 0..31. For code page 932 that is U+0000..U+001F.
void TestRules::cutCtrretFollowsTheCodePageForEveryUnit()
{
    int removed = 0;
    for (char32_t u = 0; u <= 0xFFFF; ++u) {
        const QChar ch(static_cast<char16_t>(u));
        const QByteArray bytes = vesk::cp932::encode(QStringView(&ch, 1));
        int k = static_cast<unsigned char>(bytes[0]);
        if (bytes.size() == 2)
            k = static_cast<qint16>((k << 8) | static_cast<unsigned char>(bytes[1]));
        const bool byDefinition = k >= 0 && k <= 31;
        const bool dropped = vesk::CutCtrret(QString(ch)).isEmpty();
        if (dropped != byDefinition)
            QFAIL(qPrintable(u"U+%1"_s.arg(static_cast<uint>(u), 4, 16, QChar(u'0'))));
        QCOMPARE(dropped, u < 0x20);
        removed += dropped;
    }
    QCOMPARE(removed, 32);
}

void TestRules::linesAsThePartnerSeesThem_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("line"); // null: nothing shown
    QTest::newRow("plain") << u"hello"_s << u"相手>> hello\r\n"_s;
    QTest::newRow("empty") << QString() << u"相手>> \r\n"_s;
    QTest::newRow("marker") << u"host 0.0.0.0 up"_s << QString();
    QTest::newRow("marker made by the filter") << u"0.0\n.0.0"_s << QString();
    QTest::newRow("near miss") << u"0.0.0.1 0,0.0.0"_s << u"相手>> 0.0.0.1 0,0.0.0\r\n"_s;
    QTest::newRow("line breaks and tabs") << u"a\r\nb\tc\rd\ne"_s << u"相手>> abcde\r\n"_s;
    QTest::newRow("full-width digits are not the marker") << u"０.0.0.0"_s << u"相手>> ０.0.0.0\r\n"_s;
}

// A received text, and the same text sent by this copy: the own line shows what
// the partner's line holds, and neither exists where the partner shows nothing.
void TestRules::linesAsThePartnerSeesThem()
{
    QFETCH(QString, data);
    QFETCH(QString, line);
    const auto received = vesk::receivedLine(data);
    QCOMPARE(received, line.isNull() ? std::nullopt : std::optional(line));
    const auto own = vesk::ownLine(data);
    QCOMPARE(own, line.isNull() ? std::nullopt : std::optional(u"自分"_s + line.mid(2)));
}

QTEST_MAIN(TestRules)
#include "tst_rules.moc"
