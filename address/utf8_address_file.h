// An address file saved as UTF-8 by another program: told apart from Shift-JIS before it is
// loaded, and rewritten in Shift-JIS only when the user agrees. Read as Shift-JIS it would show
// as garbled names, and a save would keep them garbled for good.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace tessaly {

class Dialogs;

// True for valid UTF-8 with bytes beyond ASCII that does not read as Shift-JIS text as people
// write it. A few UTF-8 texts are valid code page 932 bytes too; they are taken for UTF-8 when
// their UTF-8 reading is the more Japanese of the two (kana, kanji and full-width forms against
// the everyday rows of Shift-JIS: symbols, kana and the first level of kanji). A leading
// byte order mark counts as UTF-8.
bool LooksLikeUtf8Text(std::string_view bytes);

struct Utf8AddressFile {
    std::string bytes; // the file as read
    QString question;  // what to ask before it is rewritten
};

// The address file at `addressPath` (the Address setting, Shift-JIS) when it is UTF-8 text;
// nothing when there is no such file, it cannot be read, or it is not UTF-8.
std::optional<Utf8AddressFile> AddressFile_FindUtf8(const std::string& addressPath);

// Rewrites the file in Shift-JIS, line ends and everything else as they are (a byte order mark
// dropped), after keeping the file as it was in `addressPath` + ".bak". A character Shift-JIS
// cannot hold is named in a message and nothing is written; so is a file that cannot be written.
// False then: the file stays as it was.
bool AddressFile_ConvertToShiftJis(const Utf8AddressFile& file, const std::string& addressPath,
                                   Dialogs& dialogs, QWidget* parent);

} // namespace tessaly
