#include "common/text_file.h"

#include "common/errors.h"
#include "common/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace tessaly {

namespace {

[[noreturn]] void fail(const QString& text, const QString& shownPath) {
    throw FileError(text.arg(shownPath).toStdString());
}

} // namespace

std::vector<std::string> TextFile_ReadLines(const std::string& fsPath, const QString& shownPath) {
    std::string bytes;
    switch (readRegularFile(fsPath, bytes, TextFileLimit)) {
    case FileRead::Read:
        break;
    case FileRead::Missing:
    case FileRead::OpenFailed:
        fail(QStringLiteral("ファイル %1 は開けません"), shownPath);
    case FileRead::ReadFailed:
        fail(QStringLiteral("ファイル %1 を読み込めません"), shownPath);
    case FileRead::NotRegular:
        fail(QStringLiteral("ファイル %1 は通常のファイルではないため、読み込みに失敗しました。\r\n"
                            "別のファイルを指定してください。"),
             shownPath);
    case FileRead::TooLarge:
        fail(QStringLiteral("ファイル %1 は 1MB を超えているため、読み込みに失敗しました。\r\n"
                            "1MB 以下のファイルを指定してください。"),
             shownPath);
    }
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

void TextFile_WriteLines(const std::string& fsPath, const QString& shownPath,
                         const std::vector<std::string>& linesSjis, bool append) {
    std::string bytes;
    for (const std::string& line : linesSjis)
        bytes.append(line).append("\r\n");
    int fd = -1;
    const FileOpen opened =
        fsPath.empty() ? FileOpen::Missing
                       : openRegularFile(fsPath, append ? O_WRONLY | O_APPEND : O_WRONLY | O_CREAT | O_TRUNC, fd);
    if (append && (opened == FileOpen::Missing || opened == FileOpen::NotRegular))
        fail(QStringLiteral("ファイル %1 が見つかりません"), shownPath);
    bool ok = opened == FileOpen::Opened;
    if (ok) {
        ok = writeWhole(fd, bytes);
        ok = ::close(fd) == 0 && ok;
    }
    if (!ok)
        fail(QStringLiteral("ファイル %1 に書き込めません"), shownPath);
}

} // namespace tessaly
