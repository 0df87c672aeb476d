// Checks the code page 932 converter against the vendor's table, read here on its
// own (not through cp932gen), and against glibc's iconv where the two agree.
#include "platform/udp/Payload.h"
#include "platform/udp/cp932.h"

#include "cp932reference.h"

#include <QStringList>
#include <QTest>

#ifdef Q_OS_LINUX
#include <iconv.h>
#endif

using namespace vesk::cp932;
using namespace cp932ref;

namespace {

#ifdef Q_OS_LINUX
// One conversion with glibc's iconv; false when iconv rejects the input.
bool viaIconv(iconv_t cd, const QByteArray& in, QByteArray* out)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    QByteArray buffer(in.size() * 4 + 8, '\0');
    QByteArray source = in;
    char* ip = source.data();
    char* op = buffer.data();
    auto il = static_cast<size_t>(source.size());
    auto ol = static_cast<size_t>(buffer.size());
    if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0)
        return false;
    buffer.truncate(op - buffer.constData());
    *out = buffer;
    return true;
}

QByteArray utf16le(char16_t unit)
{
    return bytePair(unit & 0xFF, unit >> 8);
}
#endif

QString hex(const QByteArray& b)
{
    return QString::fromLatin1(b.toHex(' '));
}

QString units(const QString& s)
{
    QStringList parts;
    for (const QChar c : s)
        parts << QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return parts.join(' ');
}

void reportMismatches(const QStringList& mismatches)
{
    QVERIFY2(mismatches.isEmpty(),
             qPrintable(QStringLiteral("%1 mismatches, first: %2")
                            .arg(mismatches.size())
                            .arg(mismatches.mid(0, 8).join(QStringLiteral("; ")))));
}

} // namespace

class TestCp932 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everyUnitEncodes();
    void everySingleByteDecodes();
    void everyBytePairDecodes();
    void allPairsInOneBuffer();
    void roundTripUnitsSurviveTogether();
    void iconvAgreesOnDecoding();
    void iconvAgreesOnRoundTripEncoding();
    void encodeCases_data();
    void encodeCases();
    void decodeCases_data();
    void decodeCases();
    void payloadCases_data();
    void payloadCases();

private:
    ReferenceTable m_table;
};

void TestCp932::initTestCase()
{
    const QString error = load(QStringLiteral(VESK_SOURCE_DIR "/platform/udp/data/bestfit932.txt"), m_table);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // The defaults the peers rely on, whatever the table says.
    QCOMPARE(m_table.byteDefault, 0x3F);
    QCOMPARE(m_table.unitDefault, 0x30FB);
    QCOMPARE(m_table.leadCount, 60);
}

void TestCp932::everyUnitEncodes()
{
    QStringList mismatches;
    for (int u = 0; u <= 0xFFFF; ++u) {
        const auto unit = static_cast<char16_t>(u);
        const quint16 expected = m_table.codeFor(unit);
        const QByteArray got = encode(QStringView(&unit, 1));
        if (codeOf(unit) != expected || got != bytesOf(expected)) {
            mismatches << QStringLiteral("U+%1: want %2, encode %3, codeOf %4")
                              .arg(u, 4, 16, QLatin1Char('0'))
                              .arg(expected, 0, 16)
                              .arg(hex(got))
                              .arg(codeOf(unit), 0, 16);
        }
    }
    reportMismatches(mismatches);
}

void TestCp932::everySingleByteDecodes()
{
    QStringList mismatches;
    for (int b = 0; b <= 0xFF; ++b) {
        const QByteArray in(1, static_cast<char>(b));
        // A lead byte alone is a lead byte at the very end.
        const QString expected =
            QChar(m_table.lead[b] || m_table.single[b] < 0 ? kUnmappedBytes
                                                           : static_cast<char16_t>(m_table.single[b]));
        const QString got = decode(in);
        if (got != expected)
            mismatches << QStringLiteral("%1: want %2, got %3").arg(hex(in), units(expected), units(got));
    }
    reportMismatches(mismatches);
}

void TestCp932::everyBytePairDecodes()
{
    QStringList mismatches;
    for (int code = 0; code <= 0xFFFF; ++code) {
        const QByteArray in = bytePair(code >> 8, code & 0xFF);
        const QString expected = m_table.decode(in);
        const QString got = decode(in);
        if (got != expected)
            mismatches << QStringLiteral("%1: want %2, got %3").arg(hex(in), units(expected), units(got));
    }
    reportMismatches(mismatches);
}

// Carrying state across characters is where a converter usually goes wrong:
// decode one buffer holding every byte pair and compare with the walk.
void TestCp932::allPairsInOneBuffer()
{
    QByteArray in;
    in.reserve(2 * 65536);
    for (int code = 0; code <= 0xFFFF; ++code) {
        in += static_cast<char>(code >> 8);
        in += static_cast<char>(code & 0xFF);
    }
    const QString expected = m_table.decode(in);
    const QString got = decode(in);
    QCOMPARE(got.size(), expected.size());
    QVERIFY(got == expected);
}

void TestCp932::roundTripUnitsSurviveTogether()
{
    QString text;
    for (int u = 0; u <= 0xFFFF; ++u) {
        if (m_table.roundTrips(static_cast<char16_t>(u)))
            text += QChar(static_cast<char16_t>(u));
    }
    // Every single byte and byte pair with a mapping of its own, less the
    // decode-only duplicates (NEC/IBM rows and the like).
    QVERIFY2(text.size() > 7000, qPrintable(QString::number(text.size())));
    const QByteArray bytes = encode(text);
    QCOMPARE(decode(bytes), text);
}

#ifdef Q_OS_LINUX
void TestCp932::iconvAgreesOnDecoding()
{
    iconv_t cd = iconv_open("UTF-16LE", "CP932");
    QVERIFY2(cd != reinterpret_cast<iconv_t>(-1), "glibc iconv has no CP932");
    QList<QByteArray> inputs;
    for (int b = 0; b <= 0xFF; ++b) {
        if (!m_table.lead[b])
            inputs << QByteArray(1, static_cast<char>(b));
        else
            for (int trail = 0; trail <= 0xFF; ++trail)
                inputs << bytePair(b, trail);
    }
    QStringList mismatches;
    int agreed = 0;
    for (const QByteArray& in : inputs) {
        QByteArray theirs;
        if (!viaIconv(cd, in, &theirs))
            continue;
        const QString ours = decode(in);
        const QString reference(reinterpret_cast<const QChar*>(theirs.constData()), theirs.size() / 2);
        if (ours == reference)
            ++agreed;
        else
            mismatches << QStringLiteral("%1: iconv %2, ours %3").arg(hex(in), units(reference), units(ours));
    }
    iconv_close(cd);
    reportMismatches(mismatches);
    // A low count would mean the oracle never really ran.
    qInfo("iconv accepted and agreed on %d of %lld inputs", agreed, static_cast<long long>(inputs.size()));
    QVERIFY2(agreed > 9500, qPrintable(QString::number(agreed)));
}

void TestCp932::iconvAgreesOnRoundTripEncoding()
{
    iconv_t cd = iconv_open("CP932", "UTF-16LE");
    QVERIFY2(cd != reinterpret_cast<iconv_t>(-1), "glibc iconv has no CP932");
    QStringList mismatches;
    int agreed = 0;
    for (int u = 0; u <= 0xFFFF; ++u) {
        const auto unit = static_cast<char16_t>(u);
        // iconv has best-fit choices of its own (U+301C, U+2014, ...) that Windows lacks.
        if (!m_table.roundTrips(unit))
            continue;
        QByteArray theirs;
        if (!viaIconv(cd, utf16le(unit), &theirs))
            continue;
        const QByteArray ours = encode(QStringView(&unit, 1));
        if (ours == theirs)
            ++agreed;
        else
            mismatches << QStringLiteral("U+%1: iconv %2, ours %3")
                              .arg(u, 4, 16, QLatin1Char('0'))
                              .arg(hex(theirs), hex(ours));
    }
    iconv_close(cd);
    reportMismatches(mismatches);
    qInfo("iconv accepted and agreed on %d round-trip units", agreed);
    QVERIFY2(agreed > 9300, qPrintable(QString::number(agreed)));
}
#else
// The reference converter is glibc's; elsewhere the table checks above stand alone.
void TestCp932::iconvAgreesOnDecoding()
{
    QSKIP("glibc's iconv is only on Linux");
}

void TestCp932::iconvAgreesOnRoundTripEncoding()
{
    QSKIP("glibc's iconv is only on Linux");
}
#endif

void TestCp932::encodeCases_data()
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

void TestCp932::encodeCases()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(hex(encode(text)), hex(bytes));
}

void TestCp932::decodeCases_data()
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

void TestCp932::decodeCases()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(units(decode(bytes)), units(text));
}

// What a message text travels as, and what the partner reads from it.
void TestCp932::payloadCases_data()
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

void TestCp932::payloadCases()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, delivered);
    QCOMPARE(hex(vesk::payload::fromText(text)), hex(bytes));
    QCOMPARE(vesk::payload::toText(bytes), delivered);
    QCOMPARE(vesk::payload::asDelivered(text), delivered);
}

QTEST_GUILESS_MAIN(TestCp932)
#include "tst_cp932.moc"
