// Certificates for the TLS sink, made by the test fixture script's own routine, and a file read.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace bench {

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Certificates for the sink, made by the fixture script's own routine.
struct SinkCertificates {
    bool make() {
        const QString code = QStringLiteral(
            "import sys; sys.path.insert(0, sys.argv[1]); import smtp_real_server as s; "
            "s.make_certificates(sys.argv[2])");
        const QString fixtures = QStringLiteral(TESSALY_SOURCE_DIR "/tests/fixtures");
        if (!dir.isValid() ||
            QProcess::execute(QStringLiteral("/usr/bin/python3"),
                              {QStringLiteral("-c"), code, fixtures, dir.path()}) != 0)
            return false;
        ca = readFile(dir.filePath(QStringLiteral("ca.pem")));
        certificate = readFile(dir.filePath(QStringLiteral("localhost.pem")));
        key = readFile(dir.filePath(QStringLiteral("localhost.key")));
        return !ca.isEmpty() && !certificate.isEmpty() && !key.isEmpty();
    }
    QTemporaryDir dir;
    QByteArray ca, certificate, key;
};

} // namespace bench
