#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The text rules of a conversation, free of any window: they serve both windows,
// the tests and the fuzz target of the receive path.
namespace vesk {

inline constexpr char16_t kOwnLabel[] = u"自分>>";     // a line this copy sent
inline constexpr char16_t kPartnerLabel[] = u"相手>>"; // a line it received

// A received message containing this is not shown at all.
inline constexpr char16_t kSuppressedMarker[] = u"0.0.0.0";

// Label, one space, the text, CR LF; nothing trimmed or escaped.
QString transcriptLine(QStringView label, QStringView text);

// Drops every code unit whose code in code page 932 lies in 0..31 (the control
// characters), so a message can never break the one-line-per-message transcript.
// Double-byte characters, whose code is negative as a signed 16-bit number, pass.
QString CutCtrret(const QString& atstr);

// The line a received text puts on top of the transcript, or nothing when the
// filtered text contains the suppressed marker.
std::optional<QString> receivedLine(const QString& data);

// The own line for a text about to be sent as typed: what the partner's
// transcript will show of it (the code page's round trip, then the filter
// above), or nothing when the partner's program would discard it unseen.
std::optional<QString> ownLine(QStringView typed);

} // namespace vesk
