#pragma once

// The vendor's code page 932 table read on its own, not through cp932gen, as an
// oracle for the converter and for what a received datagram must show.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

namespace cp932ref {

constexpr char16_t kUnmappedBytes = u'\u30FB';
constexpr quint16 kUnmappedUnit = 0x3F;

inline QByteArray bytePair(int first, int second)
{
    QByteArray b(2, '\0');
    b[0] = static_cast<char>(first);
    b[1] = static_cast<char>(second);
    return b;
}

inline QByteArray bytesOf(quint16 code)
{
    return code > 0xFF ? bytePair(code >> 8, code & 0xFF) : QByteArray(1, static_cast<char>(code));
}

// The vendor's table as plain arrays; -1 where the table has no entry.
struct ReferenceTable {
    int byteDefault = -1;
    int unitDefault = -1;
    QList<int> single = QList<int>(256, -1);
    QList<bool> lead = QList<bool>(256, false);
    QList<int> pair = QList<int>(65536, -1); // unit by lead * 256 + trail
    QList<int> wide = QList<int>(65536, -1); // code by UTF-16 unit
    int leadCount = 0;
    int wideCount = 0;

    // What the system gives for one unit.
    quint16 codeFor(char16_t unit) const
    {
        const int code = wide[unit];
        return code < 0 ? kUnmappedUnit : static_cast<quint16>(code);
    }

    // Walks the bytes the way the system does: a lead byte swallows the next
    // byte, unless that is NUL.
    QString decode(const QByteArray& bytes) const
    {
        QString out;
        for (qsizetype i = 0; i < bytes.size();) {
            const auto b = static_cast<uchar>(bytes[i++]);
            int unit = -1;
            if (lead[b]) {
                // The system leaves a NUL after a lead byte to stand on its own.
                if (i < bytes.size() && bytes[i] != '\0')
                    unit = pair[b * 256 + static_cast<uchar>(bytes[i++])];
            } else {
                unit = single[b];
            }
            out += QChar(unit < 0 ? kUnmappedBytes : static_cast<char16_t>(unit));
        }
        return out;
    }

    // The unit comes back unchanged from its own code (not a best-fit mapping).
    bool roundTrips(char16_t unit) const
    {
        return wide[unit] >= 0 && decode(bytesOf(codeFor(unit))) == QString(QChar(unit));
    }
};

inline bool number(const QByteArray& token, int* value)
{
    bool ok = false;
    const uint v = token.toUInt(&ok, 0);
    *value = static_cast<int>(v);
    return ok && v <= 0xFFFF;
}

// Reads the table by its keywords, then checks every declared count was met, so
// that a misread section shows up as an error rather than as a wrong oracle.
inline QString parse(const QByteArray& text, ReferenceTable& t)
{
    enum class Section { Header, Single, Ranges, Wide, End } section = Section::Header;
    QList<int> leadOrder;
    int tablesSeen = 0;
    int entriesLeft = 0;
    int currentLead = -1;
    int singleDeclared = -1;
    int singleCount = 0;
    int wideDeclared = -1;

    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray line = lines[n];
        const qsizetype comment = line.indexOf(';');
        if (comment >= 0)
            line.truncate(comment);
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() == 1 && f[0].isEmpty())
            continue;
        const QString where = QStringLiteral("line %1: ").arg(n + 1);
        const QByteArray& key = f[0];
        int a = 0;
        int b = 0;
        if (key == "CODEPAGE") {
            if (f.size() < 2 || f[1] != "932")
                return where + "not code page 932";
        } else if (key == "CPINFO") {
            if (f.size() != 4 || !number(f[2], &t.byteDefault) || !number(f[3], &t.unitDefault))
                return where + "bad CPINFO";
        } else if (key == "MBTABLE") {
            section = Section::Single;
            if (f.size() != 2 || !number(f[1], &singleDeclared))
                return where + "bad MBTABLE";
        } else if (key == "DBCSRANGE") {
            section = Section::Ranges;
        } else if (key == "DBCSTABLE") {
            if (section != Section::Ranges || entriesLeft != 0 || tablesSeen >= leadOrder.size()
                || f.size() != 2 || !number(f[1], &entriesLeft))
                return where + "bad DBCSTABLE";
            currentLead = leadOrder[tablesSeen++];
        } else if (key == "WCTABLE") {
            if (entriesLeft != 0 || f.size() != 2 || !number(f[1], &wideDeclared))
                return where + "bad WCTABLE";
            section = Section::Wide;
        } else if (key == "ENDCODEPAGE") {
            section = Section::End;
        } else if (f.size() == 2 && number(f[0], &a) && number(f[1], &b)) {
            switch (section) {
            case Section::Single:
                if (a > 0xFF || t.single[a] >= 0)
                    return where + "bad or repeated byte";
                t.single[a] = b;
                ++singleCount;
                break;
            case Section::Ranges:
                if (entriesLeft > 0) {
                    const int code = currentLead * 256 + a;
                    if (a > 0xFF || t.pair[code] >= 0)
                        return where + "bad or repeated trail byte";
                    t.pair[code] = b;
                    --entriesLeft;
                } else {
                    if (a < 0x80 || b > 0xFF || a > b)
                        return where + "bad lead byte range";
                    for (int l = a; l <= b; ++l) {
                        leadOrder.append(l);
                        t.lead[l] = true;
                    }
                }
                break;
            case Section::Wide:
                if (t.wide[a] >= 0)
                    return where + "repeated unit";
                t.wide[a] = b;
                ++t.wideCount;
                break;
            default:
                return where + "entry outside a table";
            }
        } else {
            return where + "unreadable";
        }
    }
    if (section != Section::End)
        return QStringLiteral("no ENDCODEPAGE");
    if (singleCount != singleDeclared || t.wideCount != wideDeclared)
        return QStringLiteral("entry counts differ from the declared ones");
    if (tablesSeen != leadOrder.size() || entriesLeft != 0)
        return QStringLiteral("missing DBCSTABLE entries");
    for (int l = 0; l < 256; ++l) {
        if (t.lead[l] && t.single[l] >= 0)
            return QStringLiteral("byte %1 is both single and lead").arg(l, 2, 16);
    }
    t.leadCount = static_cast<int>(leadOrder.size());
    return {};
}

// Reads the table from `path`; gives what went wrong, or nothing.
inline QString load(const QString& path, ReferenceTable& t)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return parse(file.readAll(), t);
}

// Bytes and code units spelled out for failure messages.
inline QString hex(const QByteArray& b)
{
    return QString::fromLatin1(b.toHex(' '));
}

inline QString units(const QString& s)
{
    QStringList parts;
    for (const QChar c : s)
        parts << QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return parts.join(u' ');
}

} // namespace cp932ref
