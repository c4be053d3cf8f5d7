#include "sending/attachments.h"

#include "common/cp932.h"
#include "common/errors.h"
#include "common/regular_file.h"
#include "common/text.h"
#include "smtp/message_builder.h"
#include "smtp/smtp_client.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QMimeDatabase>

#include <cerrno>
#include <functional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly {

namespace {

// A multiple of the 57 bytes of one Base64 line, so that each block ends at a line's end.
constexpr std::size_t kReadBlock = 57 * 4096;

QString quotedName(const std::string& pathSjis) {
    return QStringLiteral("「%1」").arg(fromSjis(AttachmentNameOf(pathSjis)));
}

[[noreturn]] void refuse(const QString& text) { throw Error(text.toStdString()); }

// Why the file cannot be read; after a failed open or read.
[[noreturn]] void refuseOpen(FileOpen result, const std::string& pathSjis) {
    switch (result) {
    case FileOpen::Missing:
        refuse(QStringLiteral("添付ファイル%1が見つかりません。添付ファイルの一覧から削除するか、"
                              "もう一度追加してください。")
                   .arg(quotedName(pathSjis)));
    case FileOpen::NotRegular:
        refuse(QStringLiteral("%1はファイルではないため添付できません。"
                              "添付ファイルの一覧から削除してください。")
                   .arg(quotedName(pathSjis)));
    default:
        refuse(QStringLiteral("添付ファイル%1を読み込めません。"
                              "ファイルが開けるかどうか確かめてください。")
                   .arg(quotedName(pathSjis)));
    }
}

std::int64_t modifiedNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

int openOrRefuse(const std::string& pathSjis) {
    int fd = -1;
    const FileOpen opened = openRegularFile(cp932::pathFromSjis(pathSjis), O_RDONLY, fd);
    if (opened != FileOpen::Opened)
        refuseOpen(opened, pathSjis);
    return fd;
}

} // namespace

std::string AttachmentNameOf(const std::string& pathSjis) {
    // A "/" never stands inside a double-byte character: its byte is below every trail byte.
    const std::size_t cut = pathSjis.rfind('/');
    return cut == std::string::npos ? pathSjis : pathSjis.substr(cut + 1);
}

AttachedFile AttachedFileOf(const std::string& pathSjis) {
    const Descriptor fd(openOrRefuse(pathSjis));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        refuseOpen(FileOpen::Failed, pathSjis);
    AttachedFile file;
    file.pathSjis = pathSjis;
    file.size = static_cast<std::int64_t>(st.st_size);
    file.modifiedNs = modifiedNs(st);
    const QString path = QString::fromStdString(cp932::pathFromSjis(pathSjis));
    file.contentType = QMimeDatabase().mimeTypeForFile(path).name().toStdString();
    if (file.contentType.empty())
        file.contentType = "application/octet-stream";
    return file;
}

namespace {

// Reads the file through in whole Base64 blocks, checking it is still the file that was added
// (and, once read through before, still has the bytes it had), and gives its SHA-256.
std::string readChecked(const AttachedFile& file, const std::function<void(std::string_view)>& sink) {
    const Descriptor fd(openOrRefuse(file.pathSjis));
    const QString changed = QStringLiteral("添付ファイル%1は追加した後に変更されています。"
                                           "一覧から削除して、もう一度追加してください。")
                                .arg(quotedName(file.pathSjis));
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0)
        refuseOpen(FileOpen::Failed, file.pathSjis);
    if (before.st_size != file.size || modifiedNs(before) != file.modifiedNs)
        refuse(changed);
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    std::string block(kReadBlock, '\0');
    std::int64_t read = 0;
    for (;;) {
        // Fill whole blocks: a short read in the middle would end a Base64 line early.
        std::size_t filled = 0;
        while (filled < block.size()) {
            const ssize_t n = ::read(fd.get(), block.data() + filled, block.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                refuseOpen(FileOpen::Failed, file.pathSjis);
            if (n == 0)
                break;
            filled += static_cast<std::size_t>(n);
        }
        if (filled == 0)
            break;
        const std::string_view bytes(block.data(), filled);
        sha256.addData(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        if (sink)
            sink(bytes);
        read += static_cast<std::int64_t>(filled);
        if (filled < block.size())
            break;
    }
    struct stat after {};
    if (::fstat(fd.get(), &after) != 0 || read != file.size || after.st_size != file.size ||
        modifiedNs(after) != file.modifiedNs)
        refuse(changed);
    std::string digest = sha256.result().toHex().toStdString();
    if (!file.sha256.empty() && digest != file.sha256)
        refuse(changed);
    return digest;
}

void appendParts(MessageAttachments& attachments, const std::vector<AttachedFile>& files) {
    for (const AttachedFile& file : files) {
        auto base64 = std::make_shared<std::string>();
        base64->reserve(static_cast<std::size_t>(file.size / 57 + 1) * 78);
        AttachmentPart part;
        part.sha256 = readChecked(file, [&](std::string_view bytes) { *base64 += Base64Lines(bytes); });
        part.nameSjis = AttachmentNameOf(file.pathSjis);
        part.contentType = file.contentType;
        part.size = static_cast<std::uint64_t>(file.size);
        part.base64 = std::move(base64);
        attachments.parts.push_back(std::move(part));
    }
}

} // namespace

AttachedFile ReadThroughFileOf(const std::string& pathSjis) {
    AttachedFile file = AttachedFileOf(pathSjis);
    file.sha256 = readChecked(file, nullptr);
    return file;
}

std::shared_ptr<const MessageAttachments>
ReadAttachments(const std::vector<AttachedFile>& files, const std::vector<std::string>& textLines) {
    return WithOwnAttachments(nullptr, files, textLines);
}

std::shared_ptr<const MessageAttachments>
WithOwnAttachments(const std::shared_ptr<const MessageAttachments>& shared,
                   const std::vector<AttachedFile>& own, const std::vector<std::string>& textLines) {
    if (own.empty())
        return shared;
    auto attachments = std::make_shared<MessageAttachments>();
    if (shared)
        attachments->parts = shared->parts; // the Base64 texts stay shared
    appendParts(*attachments, own);
    attachments->boundary = NewBoundary(textLines);
    return attachments;
}

QString SizeText(std::int64_t bytes) {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    if (bytes < 1000)
        return QStringLiteral("%1 バイト").arg(bytes);
    if (bytes < 1000 * 1000)
        return QStringLiteral("%1 KB").arg(japanese.toString(static_cast<double>(bytes) / 1e3, 'f', 1));
    return QStringLiteral("%1 MB").arg(japanese.toString(static_cast<double>(bytes) / 1e6, 'f', 1));
}

QString AttachmentSummary(const std::vector<AttachedFile>& files) {
    std::int64_t total = 0;
    for (const AttachedFile& file : files)
        total += file.size;
    return QStringLiteral("添付ファイル %1 個（%2）").arg(files.size()).arg(SizeText(total));
}

std::int64_t WireSize(const WireMessage& message) {
    return static_cast<std::int64_t>(MessageData(message).size()) + 2; // and the client's empty line
}

std::string LoggedSubject(const std::string& subjectSjis, const MessageAttachments& files) {
    if (files.parts.empty())
        return subjectSjis;
    std::string subject = subjectSjis + toSjis(QStringLiteral("（添付："), {});
    for (std::size_t i = 0; i < files.parts.size(); ++i) {
        if (i > 0)
            subject += toSjis(QStringLiteral("、"), {});
        subject += files.parts[i].nameSjis;
    }
    return subject + toSjis(QStringLiteral("）"), {});
}

std::vector<std::string> JournalLines(const std::vector<std::string>& bodyLines,
                                      const MessageAttachments* files) {
    std::vector<std::string> lines = bodyLines;
    if (!files)
        return lines;
    // A zero byte never stands in a body line, so these lines cannot be taken for one.
    for (const AttachmentPart& part : files->parts)
        lines.push_back(std::string("\0file\0", 6) + part.nameSjis + '\0' +
                        std::to_string(part.size) + '\0' + part.sha256);
    return lines;
}

std::vector<std::string> SentDataLines(std::vector<std::string> bodyLinesSjis,
                                       const MessageAttachments* files) {
    if (files)
        for (const AttachmentPart& part : files->parts)
            bodyLinesSjis.push_back(toSjis(QStringLiteral("添付ファイル："), {}) + part.nameSjis);
    return bodyLinesSjis;
}

std::optional<std::int64_t> SizeLimitOf(const std::vector<std::string>& extensions) {
    for (const std::string& extension : extensions) {
        if (extension.rfind("SIZE", 0) != 0 || (extension.size() > 4 && extension[4] != ' '))
            continue;
        std::int64_t limit = 0;
        for (std::size_t i = 5; i < extension.size(); ++i) {
            if (extension[i] < '0' || extension[i] > '9' || limit > (INT64_MAX - 9) / 10)
                return std::nullopt;
            limit = limit * 10 + (extension[i] - '0');
        }
        return limit > 0 ? std::optional<std::int64_t>(limit) : std::nullopt;
    }
    return std::nullopt;
}

QString SizeLimitRefusalText(std::int64_t messageSize, std::int64_t limit) {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    return QStringLiteral("メッセージの大きさ（%1 バイト）が送信サーバーの上限（%2 バイト）を"
                          "超えるため、送信できません。添付ファイルを減らしてください。")
        .arg(japanese.toString(static_cast<qlonglong>(messageSize)),
             japanese.toString(static_cast<qlonglong>(limit)));
}

QString LargeMessageQuestionText(std::int64_t messageSize) {
    return QStringLiteral("メッセージの大きさは %1 です。多くのプロバイダーは 10MBまで受け付けます。"
                          "送信しますか？")
        .arg(SizeText(messageSize));
}

} // namespace tessaly
