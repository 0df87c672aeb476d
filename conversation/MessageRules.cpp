#include "conversation/MessageRules.h"

#include "platform/udp/Payload.h"
#include "platform/udp/cp932.h"

namespace vesk {

QString transcriptLine(QStringView label, QStringView text)
{
    QString line;
    line.reserve(label.size() + 1 + text.size() + 2);
    line.append(label).append(u' ').append(text).append(u"\r\n");
    return line;
}

QString CutCtrret(const QString& atstr)
{
    QString result;
    result.reserve(atstr.size());
    for (const QChar ch : atstr) {
        // The character's code as the signed 16-bit number the code page gives it.
        const auto k = static_cast<qint16>(cp932::codeOf(ch.unicode()));
        if (k < 0 || k > 31)
            result.append(ch);
    }
    return result;
}

namespace {

std::optional<QString> lineAsShown(QStringView label, const QString& data)
{
    const QString text = CutCtrret(data);
    if (text.contains(QStringView(kSuppressedMarker)))
        return std::nullopt;
    return transcriptLine(label, text);
}

} // namespace

std::optional<QString> receivedLine(const QString& data)
{
    return lineAsShown(kPartnerLabel, data);
}

std::optional<QString> ownLine(QStringView typed)
{
    return lineAsShown(kOwnLabel, payload::asDelivered(typed));
}

} // namespace vesk
