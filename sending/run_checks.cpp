#include "sending/run_checks.h"

#include "common/cp932.h"
#include "common/text.h"

namespace tessaly {

QString SubjectRefusal(const QString& subject) {
    if (subject.isEmpty() || subject == QStringLiteral("無題"))
        return QStringLiteral("Subjectが入力されていません");
    if (subject.contains(QLatin1Char('"')))
        return QStringLiteral("Subjectには ”は使用できません\r\n（制限文字です）");
    if (subject.contains(QLatin1Char(',')))
        return QStringLiteral("Subjectには ，は使用できません\r\n（制限文字です）");
    return {};
}

QString JisRefusal(std::string_view sjis, const QString& field, const QString& advice) {
    const std::optional<std::size_t> found = FirstCharacterWithoutJisForm(sjis);
    if (!found)
        return {};
    // Shift-JIS holds every character as one unit of one or two bytes, and each unit reads as
    // one character: the column of the unit is that of the character in the text.
    const QString text = fromSjis(sjis);
    const auto column = static_cast<qsizetype>(*found);
    const QString character = column < text.size() ? text.mid(column, 1) : QString();
    const QString code =
        character.isEmpty()
            ? QString()
            : QStringLiteral("%1")
                  .arg(static_cast<uint>(character.at(0).unicode()), 4, 16, QLatin1Char('0'))
                  .toUpper();
    return QStringLiteral("%1の %2 文字目の「%3」(U+%4)はメールでは送れない文字です"
                          "（ISO-2022-JP にありません）。%5")
        .arg(field, QString::number(column + 1), character, code, advice);
}

QString Cp932Refusal(std::string_view sjis, const QString& field) {
    if (cp932::isValid(sjis))
        return {};
    return QStringLiteral("%1に Shift-JIS の文字として読めないバイトがあります。"
                          "ファイルの内容を確かめてください。")
        .arg(field);
}

QString PortRefusal(const RunSettings& settings) {
    if (settings.port >= 0)
        return {};
    return QStringLiteral("'%1' は正しい整数値ではありません。")
        .arg(QString::fromLatin1(settings.portSjis.data(),
                                 static_cast<qsizetype>(settings.portSjis.size())));
}

QString SendRefusal(const RunMail& mail, const RunSettings& settings) {
    // Only ISO-2022-JP refuses characters of code page 932; UTF-8 carries every one of them, but
    // no byte that is not one (the texts read from files could hold such bytes).
    const bool jisOnly = settings.charset == MessageCharset::Iso2022Jp;
    const QString advice = QStringLiteral("「送信サーバーの詳細」の「文字コード」を自動か UTF-8 に"
                                          "すると、UTF-8 で送れます。");
    QString refusal;
    const auto refused = [&](std::string_view sjis, const QString& field) {
        refusal = jisOnly ? JisRefusal(sjis, field, advice) : Cp932Refusal(sjis, field);
        return !refusal.isEmpty();
    };
    if (refused(mail.subjectSjis, QStringLiteral("件名")))
        return refusal;
    // Line by line as typed, so that the message names the line the user sees.
    int number = 0;
    for (const std::string& line : mail.bodyLinesSjis)
        if (refused(line, QStringLiteral("本文 %1 行目").arg(++number)))
            return refusal;
    // A merged mail's values come from the table: each row's texts are checked as sent.
    number = 0;
    for (const RecipientMessage& own : mail.own) {
        ++number;
        if (refused(own.subjectSjis, QStringLiteral("%1 件目の件名").arg(number)))
            return refusal;
        for (const std::string& line : own.bodyShownSjis)
            if (refused(line, QStringLiteral("%1 件目の本文").arg(number)))
                return refusal;
    }
    if (refused(settings.userMeiSjis, QStringLiteral("発信者名")) ||
        refused(settings.keisyouSjis, QStringLiteral("敬称")))
        return refusal;
    number = 0;
    for (const std::string& entry : mail.recipientsSjis)
        if (refused(entry, QStringLiteral("宛先 %1 件目").arg(++number)))
            return refusal;
    return {};
}

} // namespace tessaly
