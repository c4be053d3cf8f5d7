#include "sending/run_checks.h"

#include "common/cp932.h"
#include "common/text.h"
#include "smtp/run_messages.h"

#include <QStringList>

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

namespace {

bool isAtext(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) != std::string_view::npos;
}

// Atoms joined by single dots, none empty.
bool isDotString(std::string_view s, bool (*allowed)(unsigned char)) {
    if (s.empty() || s.front() == '.' || s.back() == '.')
        return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '.' ? s[i + 1] == '.' : !allowed(c))
            return false;
    }
    return true;
}

bool isQuotedString(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"')
        return false;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            if (++i + 1 >= s.size())
                return false;
        } else if (c == '"' || c < 32 || c > 126) {
            return false;
        }
    }
    return true;
}

bool isLabelByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool isDomain(std::string_view d) {
    if (!isDotString(d, isLabelByte))
        return false;
    for (std::size_t start = 0; start <= d.size();) {
        std::size_t end = d.find('.', start);
        if (end == std::string_view::npos)
            end = d.size();
        if (d[start] == '-' || d[end - 1] == '-' || end - start > 63)
            return false;
        start = end + 1;
    }
    return true;
}

bool isAddressLiteral(std::string_view d) {
    if (d.size() < 3 || d.front() != '[' || d.back() != ']')
        return false;
    for (const char ch : d.substr(1, d.size() - 2)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 33 || c > 126 || c == '[' || c == ']' || c == '\\')
            return false;
    }
    return true;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

} // namespace

QString MailboxFault(std::string_view a) {
    if (a.empty())
        return QStringLiteral("アドレスがありません");
    for (const char ch : a) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127)
            return QStringLiteral("改行などの制御文字があります");
        if (c >= 128)
            return QStringLiteral("全角文字など、アドレスに使えない文字があります");
    }
    const bool quoted = a.front() == '"';
    if (!quoted && a.find(' ') != std::string_view::npos)
        return QStringLiteral("空白があります");
    if (a.find_first_of("<>") != std::string_view::npos)
        return QStringLiteral("「<」か「>」があります");
    const std::size_t at = a.rfind('@');
    if (at == std::string_view::npos)
        return QStringLiteral("「@」がありません");
    const std::string_view local = a.substr(0, at);
    const std::string_view domain = a.substr(at + 1);
    if (!quoted && local.find('@') != std::string_view::npos)
        return QStringLiteral("「@」が二つ以上あります");
    if (local.empty() || !(isDotString(local, isAtext) || isQuotedString(local)))
        return QStringLiteral("「@」の前に、アドレスに使えない書き方があります");
    if (domain.empty())
        return QStringLiteral("「@」の後にドメインがありません");
    if (!isAddressLiteral(domain) &&
        (!isDomain(domain) || domain.find('.') == std::string_view::npos))
        return QStringLiteral("「@」の後が「example.jp」のようなドメインではありません");
    if (local.size() > 64 || domain.size() > 255 || a.size() > 254)
        return QStringLiteral("長すぎます");
    return {};
}

QString RecipientsRefusal(const std::vector<std::string>& entriesSjis,
                          const std::function<QString(std::size_t)>& sourceOf) {
    QStringList faults;
    for (std::size_t i = 0; i < entriesSjis.size(); ++i) {
        const std::string_view entry = entriesSjis[i];
        const RecipientParts parts = SplitRecipient(entry);
        QString fault;
        // The name becomes the body's first line; a break in it would end that line early.
        if (hasLineBreak(parts.addresseeName))
            fault = QStringLiteral("宛名に改行があります");
        else
            fault = MailboxFault(parts.address);
        // What follows the closing bracket would be cut off without a word.
        const std::size_t open = entry.find('<');
        if (fault.isEmpty() && open != std::string_view::npos) {
            const std::size_t close = entry.find('>', open);
            if (close != std::string_view::npos &&
                entry.find_first_not_of(std::string_view(" \t\r\n", 4), close + 1) != std::string_view::npos)
                fault = QStringLiteral("「>」の後に文字があります");
        }
        if (fault.isEmpty())
            continue;
        // The entry on one line, whatever breaks it holds.
        faults << QStringLiteral("・%1件目（%2）：%3　… %4")
                      .arg(QString::number(i + 1), sourceOf(i), fromSjis(OneLine(entry)), fault);
    }
    if (faults.isEmpty())
        return {};
    return QStringLiteral("次の宛先はメールアドレスとして正しくないため、送信を始めませんでした。"
                          "直すか宛先一覧から削除してから、もう一度送信してください。\r\n") +
           faults.join(QStringLiteral("\r\n"));
}

QString SubjectLineRefusal(std::string_view subjectSjis) {
    if (!hasLineBreak(subjectSjis))
        return {};
    return QStringLiteral("件名に改行があります。件名を1行にしてから、もう一度送信してください。");
}

QString SendRefusal(const RunMail& mail, const RunSettings& settings) {
    if (QString refusal = SubjectLineRefusal(mail.subjectSjis); !refusal.isEmpty())
        return refusal;
    // Only ISO-2022-JP refuses characters of code page 932; UTF-8 carries every one of them, but
    // no byte that is not one (the texts read from files could hold such bytes).
    const bool jisOnly = settings.charset == MessageCharset::Iso2022Jp;
    const QString advice = QStringLiteral("「送信サーバーの詳細」の「文字コード」を自動か UTF-8 に"
                                          "すると、UTF-8 で送れます。");
    QString refusal;
    // `field()` names the text only when it is refused: a table of many rows would otherwise
    // have two names made per row for nothing.
    const auto refused = [&](std::string_view sjis, const auto& field) {
        if (jisOnly ? !FirstCharacterWithoutJisForm(sjis) : cp932::isValid(sjis))
            return false;
        refusal = jisOnly ? JisRefusal(sjis, field(), advice) : Cp932Refusal(sjis, field());
        return !refusal.isEmpty();
    };
    const auto named = [](const QString& name) { return [name] { return name; }; };
    if (refused(mail.subjectSjis, named(QStringLiteral("件名"))))
        return refusal;
    // Line by line as typed, so that the message names the line the user sees.
    int number = 0;
    for (const std::string& line : mail.bodyLinesSjis)
        if (++number; refused(line, [&] { return QStringLiteral("本文 %1 行目").arg(number); }))
            return refusal;
    // A merged mail's values come from the table: each row's texts are checked as sent.
    number = 0;
    for (const RecipientMessage& own : mail.own) {
        ++number;
        if (refused(own.subjectSjis, [&] { return QStringLiteral("%1 件目の件名").arg(number); }))
            return refusal;
        // A line as the body field shows it (most lines of a row: those without a field) holds
        // only characters checked above.
        const bool linesInPlace = own.bodyShownSjis.size() == mail.bodyShownSjis.size();
        for (std::size_t i = 0; i < own.bodyShownSjis.size(); ++i)
            if (!(linesInPlace && own.bodyShownSjis[i] == mail.bodyShownSjis[i]) &&
                refused(own.bodyShownSjis[i], [&] { return QStringLiteral("%1 件目の本文").arg(number); }))
                return refusal;
    }
    if (refused(settings.userMeiSjis, named(QStringLiteral("発信者名"))) ||
        refused(settings.keisyouSjis, named(QStringLiteral("敬称"))))
        return refusal;
    number = 0;
    for (const std::string& entry : mail.recipientsSjis)
        if (++number; refused(entry, [&] { return QStringLiteral("宛先 %1 件目").arg(number); }))
            return refusal;
    // The copies every message goes to: one wrong address there would fail every message.
    for (const auto& [name, list] : {std::pair<QString, const std::vector<std::string>&>(QStringLiteral("CC"), settings.cc),
                                     std::pair<QString, const std::vector<std::string>&>(QStringLiteral("BCC"), settings.bcc)})
        for (const std::string& address : list)
            if (const QString fault = MailboxFault(address); !fault.isEmpty())
                return QStringLiteral("「送信サーバーの詳細」の%1のアドレス「%2」に誤りがあります（%3）。"
                                      "アドレスを直してから、もう一度送信してください。")
                    .arg(name, fromSjis(address), fault);
    return RecipientsRefusal(mail.recipientsSjis,
                             [&mail](std::size_t i) { return RecipientSourceOf(mail, i); });
}

} // namespace tessaly
