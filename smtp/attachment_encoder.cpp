#include "smtp/attachment_encoder.h"

#include "common/errors.h"

#include <QByteArray>
#include <QIODevice>
#include <algorithm>

namespace tessaly {

namespace {

constexpr char kMimeTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr qsizetype kBlock = 45;

// uuencode: the grave accent for 0, then 0x21..0x5F for 1..63.
char uuChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(0x20 + v); }

} // namespace

void TAttachmentEncoder::Encode() {
    if (!InputStream || !OutputStream)
        throw Error("Encoder streams not assigned");
    if (OnBeginEncode)
        OnBeginEncode(this);
    const bool mime = Method == uuMime;
    auto table = [mime](unsigned v) { return mime ? kMimeTable[v] : uuChar(v); };
    InputStream->seek(0);
    QByteArray line;
    // Read many blocks at a time; the block boundaries stay every 45 bytes of the input.
    constexpr qsizetype kRead = kBlock * 1456;
    QByteArray pending;
    bool end = false;
    while (!end) {
        const QByteArray more = InputStream->read(kRead);
        end = more.isEmpty();
        pending += more;
        qsizetype pos = 0;
        while (pending.size() - pos >= kBlock || (end && pos < pending.size())) {
            const qsizetype n = std::min(kBlock, pending.size() - pos);
            const auto* b = reinterpret_cast<const unsigned char*>(pending.constData() + pos);
            line.clear();
            if (!mime)
                line += uuChar(static_cast<unsigned>(n));
            qsizetype i = 0;
            for (; i + 3 <= n; i += 3) {
                line += table(b[i] >> 2);
                line += table(((b[i] & 3u) << 4) | (b[i + 1] >> 4));
                line += table(((b[i + 1] & 0xFu) << 2) | (b[i + 2] >> 6));
                line += table(b[i + 2] & 0x3Fu);
            }
            if (n - i == 1) {
                line += table(b[i] >> 2);
                line += table((b[i] & 3u) << 4);
                if (mime)
                    line += "==";
            } else if (n - i == 2) {
                line += table(b[i] >> 2);
                line += table(((b[i] & 3u) << 4) | (b[i + 1] >> 4));
                line += table((b[i + 1] & 0xFu) << 2);
                if (mime)
                    line += '=';
            }
            line += "\r\n";
            OutputStream->write(line);
            pos += n;
        }
        pending.remove(0, pos);
    }
    if (!mime)
        OutputStream->write("`\r\n");
    if (OnEndEncode)
        OnEndEncode(this);
}

} // namespace tessaly
