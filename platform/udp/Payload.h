#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// A message on the wire: its text in code page 932, nothing else.
namespace vesk::payload {

// The bytes `text` travels as. The JIS-style characters that Linux input
// methods produce (U+301C 〜, U+2016 ‖, U+2212 −, U+2014 —) have no place in
// the code page; they go out as the code page's own forms (U+FF5E, U+2225,
// U+FF0D, U+2015), which is what a Windows user typing them sends. Any other
// character without a place becomes '?', as on Windows.
QByteArray fromText(QStringView text);

// The text a partner reads from `bytes`.
QString toText(QByteArrayView bytes);

// The text as it arrives at the partner: `text` after the round trip above.
QString asDelivered(QStringView text);

} // namespace vesk::payload
