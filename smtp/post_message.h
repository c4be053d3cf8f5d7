// The message record the SMTP client sends, and the header line list it is assembled into.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// What one SendMail sends. All texts are bytes as they go on the wire.
struct TPostMessage {
    std::string FromAddress;                    // envelope sender and the address in "From: "
    std::string FromName;                       // display name in "From: "
    std::vector<std::string> ToAddress;         // header "To: " and envelope
    std::vector<std::string> ToCarbonCopy;      // header "CC: " and envelope
    std::vector<std::string> ToBlindCarbonCopy; // envelope only
    std::vector<std::string> Body;              // lines of the text part, without line ends
    std::vector<std::string> Attachments;       // paths of files to attach (code page 932 bytes)
    std::string Subject;
    std::string LocalProgram;                   // "X-Mailer"
    std::string Date;                           // sent as given; none is generated
    std::string ReplyTo;
};

// Header lines "Name: value". Lookups by name ignore letter case.
class TExStringList {
public:
    int Count() const { return static_cast<int>(m_lines.size()); }
    const std::string& operator[](int index) const { return m_lines.at(static_cast<std::size_t>(index)); }
    const std::vector<std::string>& Lines() const { return m_lines; }

    // In a sorted list the line goes to its place by name; otherwise to the end.
    void Add(std::string line);
    void Insert(int index, std::string line);
    void Delete(int index);
    void Clear() { m_lines.clear(); }
    bool Sorted() const { return m_sorted; }
    void SetSorted(bool sorted);

    // Index of the first line whose text before its first ":" equals `name` (case ignored;
    // a blank before the ":" belongs to the name), -1 when there is none.
    int FindHeader(std::string_view name) const;
    // Replaces (or adds) the line `name: value`; an empty value deletes the line.
    // A CR, LF or zero byte in the name or the value is refused: it would start a header line
    // of its own.
    void SetHeaderValue(std::string_view name, std::string_view value);

    // Every line followed by CR LF.
    std::string Text() const;

private:
    std::vector<std::string> m_lines;
    bool m_sorted = false;
};

// True when `text` holds a CR, an LF or a zero byte.
bool HasLineBreakOrZero(std::string_view text);
// The text of the refusal of such a text, naming `what`.
std::string LineBreakRefusal(std::string_view what);
// Refuses (tessaly::Error with LineBreakRefusal) a text that holds a CR, an LF or a zero byte.
void CheckOneLine(std::string_view what, std::string_view text);

} // namespace tessaly
