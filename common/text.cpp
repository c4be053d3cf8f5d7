#include "common/text.h"

#include "common/cp932.h"
#include "common/errors.h"

namespace tessaly {

QString fromSjis(std::string_view sjis) {
    const std::string utf8 = cp932::toUtf8(sjis);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString fromSjis(const QByteArray& sjis) {
    return fromSjis(std::string_view(sjis.constData(), static_cast<std::size_t>(sjis.size())));
}

namespace {

QString describe(const cp932::Unencodable& c) {
    const QString hex = QStringLiteral("%1").arg(static_cast<uint>(c.codePoint), 4, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("「%1」(U+%2)").arg(QString::fromUcs4(&c.codePoint, 1), hex);
}

} // namespace

std::string toSjis(const QString& text, const QString& field) {
    const QByteArray utf8 = text.toUtf8();
    cp932::EncodeResult result = cp932::fromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    if (result.ok())
        return std::move(result.bytes);

    const cp932::Unencodable& first = result.refused.front();
    QString message = QStringLiteral("%1の %2 文字目の%3は Shift-JIS で扱えない文字です。")
                          .arg(field, QString::number(first.position + 1), describe(first));
    if (result.refused.size() > 1)
        message += QStringLiteral("（ほかにも %1 文字あります）").arg(result.refused.size() - 1);
    throw Error(message.toStdString());
}

QByteArray toSjisBytes(const QString& text, const QString& field) {
    const std::string bytes = toSjis(text, field);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool isSjisEncodable(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return cp932::fromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()))).ok();
}

QString featureDisabledText(const QString& feature, bool forThisSessionOnly) {
    if (!forThisSessionOnly)
        return feature + QStringLiteral("を無効にします。");
    return QStringLiteral("今回は%1を無効にします。\r\n"
                          "ファイルを確認してから Tessaly を起動し直すと、もう一度読み込みます。")
        .arg(feature);
}

} // namespace tessaly
