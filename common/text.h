// Qt side of the code page 932 boundary: widgets speak QString, everything stored or mailed is
// Shift-JIS bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace tessaly {

// Shift-JIS bytes to text for display; never fails (a broken byte shows as U+FFFD).
QString fromSjis(std::string_view sjis);
QString fromSjis(const QByteArray& sjis);
// A literal would fit both overloads above.
inline QString fromSjis(const char* sjis) { return fromSjis(std::string_view(sjis)); }

// Text to Shift-JIS. A character code page 932 cannot hold is refused: throws tessaly::Error whose
// message names `field` (e.g. "件名", "本文 3 行目"), the character, its code point and its column.
std::string toSjis(const QString& text, const QString& field);
QByteArray toSjisBytes(const QString& text, const QString& field);

// True when every character of `text` has a Shift-JIS form.
bool isSjisEncodable(const QString& text);

// The end of the message shown when the address book or the send log cannot be read:
// `feature` + "を無効にします。"; for a file that may be readable again (the setting is kept
// for the next start), the feature is off for this session only and the text says so.
QString featureDisabledText(const QString& feature, bool forThisSessionOnly);

} // namespace tessaly
