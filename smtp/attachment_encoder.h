// Encodes an attachment for a MIME part: Base64 in lines of 60 characters, or uuencode.
#pragma once

#include "smtp/socket_base.h"

#include <QObject>

class QIODevice;

namespace tessaly {

enum UUMethods { uuMime, uuCode };

class TAttachmentEncoder : public QObject {
public:
    explicit TAttachmentEncoder(QObject* parent = nullptr) : QObject(parent) {}

    UUMethods Method = uuMime;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode; // there is no decoding: never fired
    TNotifyEvent OnEndDecode;   // there is no decoding: never fired

    QIODevice* InputStream = nullptr;
    QIODevice* OutputStream = nullptr;

    // Encodes the whole input stream, from its start, onto the output stream: one line (CR LF)
    // per 45 input bytes.
    void Encode();
};

} // namespace tessaly
