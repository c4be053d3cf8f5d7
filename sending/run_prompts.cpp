#include "sending/run_prompts.h"

#include "common/text.h"
#include "sending/run_journal.h"

namespace tessaly {

namespace {

QString serverName(const std::string& hostSjis, int port) {
    return fromSjis(hostSjis) + QLatin1Char(':') + QString::number(port);
}

} // namespace

QString ResumeQuestionText(const JournalState& journal) {
    QString text = QStringLiteral("前回の送信は%1件目で中断しています。残りの%2件に送信しますか？")
                       .arg(journal.stoppedPosition() + 1)
                       .arg(journal.unsentCount());
    if (journal.addedCount > 0)
        text += QStringLiteral("\r\n（残りには、前回のあとに加えた宛先%1件を含みます）")
                    .arg(journal.addedCount);
    // Named apart: whether they get it again is the next question.
    if (const std::size_t uncertain = journal.inFlight().size(); uncertain > 0)
        text += QStringLiteral("\r\nほかに、届いたかどうか分からない宛先が%1件あります"
                               "（「はい」のあとで確かめます）。")
                    .arg(uncertain);
    return text;
}

QString SendAllAgainQuestionText(std::size_t acceptedCount) {
    return QStringLiteral("前回受け付けられた%1件の宛先にも、同じメールがもう一度届きます。\r\n"
                          "全員に送信してよろしいですか？")
        .arg(acceptedCount);
}

QString InFlightQuestionText(const JournalState& journal) {
    QString names;
    for (const std::size_t i : journal.inFlight())
        names += QStringLiteral("\r\n%1件目: %2")
                     .arg(i + 1)
                     .arg(fromSjis(journal.recipients[i].entrySjis));
    return QStringLiteral("次の宛先は送信の途中で中断したため、届いたかどうか分かりません。%1\r\n"
                          "この宛先にもう一度送信しますか？")
        .arg(names);
}

QString PasswordQuestionText(const std::string& hostSjis, int port, const std::string& login) {
    return QStringLiteral("送信サーバー %1 にログインするパスワードを入力してください。\r\n"
                          "ログイン名：%2")
        .arg(serverName(hostSjis, port),
             QString::fromLatin1(login.data(), static_cast<qsizetype>(login.size())));
}

QString TrustQuestionText(const std::string& tlsText, const std::string& hostSjis, int port) {
    return QString::fromUtf8(tlsText) +
           QStringLiteral("\r\n\r\nこの証明書を %1 の証明書として信頼して、接続しますか？\r\n"
                          "信頼するのはこの指紋の証明書だけです。"
                          "確かでないときは「いいえ」を選んでください。")
               .arg(serverName(hostSjis, port));
}

QString SendConfirmQuestionText(std::size_t recipients, const std::string& hostSjis, int port,
                                const QStringList& attachmentNames) {
    QString text = QStringLiteral("%1件の宛先に送信します。よろしいですか？\r\n送信サーバー：%2")
                       .arg(QString::number(recipients), serverName(hostSjis, port));
    if (!attachmentNames.isEmpty())
        text += QStringLiteral("\r\n添付ファイル：") + attachmentNames.join(QStringLiteral("、"));
    return text;
}

} // namespace tessaly
