// Checks the code page 932 converter against the vendor's table, read here on its
// own (not through cp932gen), and against glibc's iconv where the two agree.
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

QTEST_GUILESS_MAIN(TestCp932)
#include "tst_cp932.moc"
