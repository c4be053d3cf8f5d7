#include "address/vexo_csv.h"

#include "common/errors.h"
#include "common/regular_file.h"
#include "common/sjis_bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kEndOfData = 0x1A;
constexpr std::size_t kBufferSize = 1 << 16;

using tessaly::isBlankByte;

int effectiveCount(int itemCount) { return std::clamp(itemCount, 0, 100); }

std::string errorText(const std::string& path, const char* what, int err) {
    return "ファイル：" + path + "\r\n" + what + "（" + std::strerror(err) + "）";
}

} // namespace

struct TVexo_CSV::Impl {
    int fd = -1;
    bool writing = false;
    // Reading: buffer[pos, len) is unread. Once 0x1A or the end of the file is met the data is
    // over for good (`atEnd`), whatever follows 0x1A.
    std::string buffer;
    std::size_t pos = 0;
    std::size_t len = 0;
    bool atEnd = false;
    std::string path;
    // Line ends (CR LF, CR or a lone LF, as an editor counts them) consumed so far, and whether
    // the last byte consumed was a CR, whose LF then belongs to the same line end.
    int lineEnds = 0;
    bool afterCr = false;

    // Makes at least one unread byte available; false at the end of the data.
    bool fill() {
        if (atEnd)
            return false;
        if (pos < len)
            return true;
        buffer.resize(kBufferSize);
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n > 0) {
                pos = 0;
                len = static_cast<std::size_t>(n);
                return true;
            }
            if (n == 0) {
                atEnd = true;
                return false;
            }
            if (errno != EINTR)
                throw tessaly::FileError(errorText(path, "読み込みに失敗しました。", errno));
        }
    }

    void flush() {
        std::size_t done = 0;
        while (done < len) {
            const ssize_t n = ::write(fd, buffer.data() + done, len - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                const int err = errno;
                len = 0;
                throw tessaly::FileError(errorText(path, "書き込みに失敗しました。", err));
            }
            done += static_cast<std::size_t>(n);
        }
        len = 0;
    }

    void put(const std::string& bytes) {
        if (len + bytes.size() > kBufferSize) {
            flush();
            if (bytes.size() > kBufferSize) {
                buffer.assign(bytes);
                len = bytes.size();
                flush();
                return;
            }
        }
        if (buffer.size() < kBufferSize)
            buffer.resize(kBufferSize);
        std::memcpy(buffer.data() + len, bytes.data(), bytes.size());
        len += bytes.size();
    }

    // Closes the descriptor; a failed flush or close is raised after the descriptor is gone.
    void close() {
        if (fd < 0)
            return;
        int err = 0;
        if (writing) {
            try {
                flush();
            } catch (...) {
                ::close(fd);
                fd = -1;
                throw;
            }
            if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
                err = errno;
        }
        if (::close(fd) != 0 && writing && err == 0)
            err = errno;
        fd = -1;
        len = pos = 0;
        atEnd = false;
        if (err != 0)
            throw tessaly::FileError(errorText(path, "書き込みに失敗しました。", err));
    }
};

TVexo_CSV::TVexo_CSV() : impl_(std::make_unique<Impl>()) {}

TVexo_CSV::~TVexo_CSV() {
    try {
        impl_->close();
    } catch (...) {
        // A destructor cannot report; users that care call CloseFile.
    }
}

bool TVexo_CSV::isOpen() const { return impl_->fd >= 0; }

bool TVexo_CSV::openFile(const std::string& fileName, bool forWriting) {
    if (!fileName.empty())
        FileName = fileName;
    ErrorDetect = true;
    if (FileName.empty() || isOpen())
        return false;
    // A folder, a device or a named pipe is no file of records: reading it would fail, never
    // end, or wait for ever (a pipe even blocks the open).
    int fd = -1;
    const int flags = forWriting ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
    if (tessaly::openRegularFile(FileName, flags, fd) != tessaly::FileOpen::Opened)
        return false;
    impl_->fd = fd;
    impl_->writing = forWriting;
    impl_->path = FileName;
    impl_->pos = impl_->len = 0;
    impl_->atEnd = false;
    impl_->lineEnds = 0;
    impl_->afterCr = false;
    LineNumber = 0;
    ErrorDetect = false;
    return true;
}

void TVexo_CSV::OpenRead(const std::string& fileName) {
    if (openFile(fileName, false))
        eof = false;
}

void TVexo_CSV::OpenWrite(const std::string& fileName) { openFile(fileName, true); }

void TVexo_CSV::ReadRecord() {
    Impl& in = *impl_;
    text.clear();
    if (in.fd >= 0 && !in.writing) {
        LineNumber = in.lineEnds + 1;
        // The line: up to CR (an LF right after it belongs to the line end), a lone LF when it
        // ends lines, 0x1A or the end.
        const bool lfEnds = LfEndsLine;
        bool sawCr = false;
        while (in.fill()) {
            const char* begin = in.buffer.data() + in.pos;
            const char* end = in.buffer.data() + in.len;
            const char* stop = std::find_if(begin, end, [lfEnds](char c) {
                return c == '\r' || c == kEndOfData || (lfEnds && c == '\n');
            });
            text.append(begin, stop);
            if (!lfEnds)
                in.lineEnds += static_cast<int>(std::count(begin, stop, '\n'));
            in.pos += static_cast<std::size_t>(stop - begin);
            if (stop == end)
                continue;
            if (*stop == kEndOfData) {
                in.atEnd = true;
            } else {
                sawCr = *stop == '\r';
                ++in.pos;
                ++in.lineEnds;
            }
            break;
        }
        if (sawCr && in.fill() && in.buffer[in.pos] == '\n')
            ++in.pos;
        in.afterCr = false;
        // Look ahead past blanks and empty lines: eof only when nothing printable is left.
        eof = true;
        while (in.fill()) {
            const char c = in.buffer[in.pos];
            if (c == kEndOfData) {
                in.atEnd = true;
                break;
            }
            if (!isBlankByte(static_cast<unsigned char>(c))) {
                eof = false;
                break;
            }
            if (c == '\r' || (c == '\n' && !in.afterCr))
                ++in.lineEnds;
            in.afterCr = c == '\r';
            ++in.pos;
        }
    } else {
        eof = true;
    }
    SplitLine(text);
}

namespace {

// One raw field to its value: trimmed when unquoted, the bytes between the first two quotation
// marks when quoted, unchanged when a quotation mark has no partner (false then).
bool unquote(const char* f, std::size_t n, char quote, bool hasQuote, std::string& out) {
    if (n == 0) {
        out.clear();
        return true;
    }
    const char* end = f + n;
    const char* q1 = hasQuote ? static_cast<const char*>(std::memchr(f, quote, n)) : nullptr;
    if (q1 == nullptr) {
        const char* b = f;
        while (b < end && isBlankByte(static_cast<unsigned char>(*b)))
            ++b;
        const char* e = end;
        while (e > b && isBlankByte(static_cast<unsigned char>(e[-1])))
            --e;
        out.assign(b, e);
        return true;
    }
    const char* q2 = static_cast<const char*>(std::memchr(q1 + 1, quote, static_cast<std::size_t>(end - q1 - 1)));
    if (q2 == nullptr) {
        out.assign(f, n);
        return false;
    }
    out.assign(q1 + 1, q2);
    return true;
}

} // namespace

void TVexo_CSV::SplitLine(const std::string& line) {
    const int count = effectiveCount(ItemCount);
    ErrorDetect = false;
    UnclosedQuote = false;
    for (int i = 1; i <= count; ++i)
        Items[static_cast<std::size_t>(i)].clear();
    if (line.empty())
        return;

    const bool hasQuote = !MojiretsuNinsiki.empty();
    const char quote = hasQuote ? MojiretsuNinsiki[0] : '\0';
    // A 256-entry table keeps the walk at one lookup per byte whatever Kugirimoji holds.
    bool separator[256] = {};
    for (unsigned char c : Kugirimoji)
        separator[c] = true;

    const char* data = line.data();
    const std::size_t n = line.size();
    std::size_t s = 0;
    int k = 1;
    std::size_t p = 0;
    for (; p < n && k <= count; ++p) {
        if (separator[static_cast<unsigned char>(data[p])]) {
            if (!unquote(data + s, p - s, quote, hasQuote, Items[static_cast<std::size_t>(k)]))
                UnclosedQuote = true;
            ++k;
            s = p + 1;
        }
    }
    if (p >= n && k <= count) {
        if (!unquote(data + s, n - s, quote, hasQuote, Items[static_cast<std::size_t>(k)]))
            UnclosedQuote = true;
        ++k;
    }
    if (k <= count)
        ErrorDetect = true;
}

void TVexo_CSV::BuildText() {
    const int count = effectiveCount(ItemCount);
    text.clear();
    for (int i = 1; i <= count; ++i) {
        if (i > 1)
            text += ',';
        text += MojiretsuNinsiki;
        text += Items[static_cast<std::size_t>(i)];
        text += MojiretsuNinsiki;
    }
}

void TVexo_CSV::WriteRecord() {
    BuildText();
    if (impl_->fd < 0 || !impl_->writing)
        throw tessaly::FileError("ファイル：" + FileName + "\r\n書き込み用に開かれていません。");
    impl_->put(text);
    impl_->put("\r\n");
}

void TVexo_CSV::CloseFile() { impl_->close(); }
