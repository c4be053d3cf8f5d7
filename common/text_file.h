// Text files of Shift-JIS lines that the user names: a body, a signature, the sent-data file.
// Only regular files are read or written (a named pipe would hold the program until someone
// reads it); failures raise tessaly::FileError naming the file as the user gave it.
#pragma once

#include <QString>
#include <string>
#include <vector>

namespace tessaly {

// A signature or a body is a page or two of text; a file far beyond that is the wrong file, and
// reading it whole (a device such as /dev/zero never ends) would exhaust the memory.
inline constexpr std::size_t TextFileLimit = 1024 * 1024;

// The lines of the file: a CR or an LF ends a line, an LF right after a CR is part of that line
// end. A last line without a line end still counts.
std::vector<std::string> TextFile_ReadLines(const std::string& fsPath, const QString& shownPath);

// Writes each line followed by CR LF: replacing the file (made when missing), or with `append`
// at the end of a file that must be there.
void TextFile_WriteLines(const std::string& fsPath, const QString& shownPath,
                         const std::vector<std::string>& linesSjis, bool append);

} // namespace tessaly
