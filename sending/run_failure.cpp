#include "sending/run_failure.h"

#include <QStringList>

#include <utility>

namespace tessaly {

FailedStep FailedStepOf(SmtpStep step) {
    switch (step) {
    case SmtpStep::StartTls:
        return FailedStep::Tls;
    case SmtpStep::Auth:
        return FailedStep::Login;
    case SmtpStep::Reset:
    case SmtpStep::Sender:
        return FailedStep::Sender;
    case SmtpStep::Recipient:
        return FailedStep::Recipient;
    case SmtpStep::Data:
    case SmtpStep::EndOfData:
        return FailedStep::Body;
    case SmtpStep::Quit:
        return FailedStep::End;
    case SmtpStep::Greeting:
    case SmtpStep::Hello:
    case SmtpStep::Other:
        break;
    }
    return FailedStep::Connect;
}

QString RunFailureLead(FailedStep step, std::size_t accepted, bool temporary) {
    QString name;
    QString advice;
    switch (step) {
    case FailedStep::Connect:
        name = QStringLiteral("接続");
        advice = QStringLiteral("設定画面の HOST名とポート番号、ネットワークを確かめてから、");
        break;
    case FailedStep::Tls:
        name = QStringLiteral("TLS");
        advice = QStringLiteral("「送信サーバーの詳細」の接続の保護とポート番号を確かめてから、");
        break;
    case FailedStep::Login:
        name = QStringLiteral("認証");
        advice = QStringLiteral("「送信サーバーの詳細」のユーザー名とパスワードを確かめてから、");
        break;
    case FailedStep::Sender:
        name = QStringLiteral("送信者");
        advice = QStringLiteral("設定画面のメールアドレスと、サーバーの応答を確かめてから、");
        break;
    case FailedStep::Recipient:
        name = QStringLiteral("宛先");
        advice = QStringLiteral("宛先のアドレスと、サーバーの応答を確かめてから、");
        break;
    case FailedStep::Body:
        name = QStringLiteral("本文");
        advice = QStringLiteral("サーバーの応答を確かめてから、");
        break;
    case FailedStep::End:
        name = QStringLiteral("終了");
        advice = QStringLiteral("サーバーの応答を確かめてから、");
        break;
    }
    if (temporary)
        advice = QStringLiteral("サーバーが一時的に受け付けていません。しばらくしてから");
    // A temporary refusal says when to send again, the others what to check first; after some
    // messages went out the journal lets the next run leave out those recipients.
    const QString again =
        accepted == 0 ? QStringLiteral("もう一度送信してください。")
                      : QStringLiteral("もう一度送信してください（送信済みの宛先には送らずに、残りにだけ送れます）。");
    return QStringLiteral("「%1」の段階で送信が止まりました（%2件送信済み）。%3%4")
        .arg(name, QString::number(accepted), advice, again);
}

RunFailure::RunFailure(QString lead, QString detail)
    : Error((detail.isEmpty() ? lead : QString(lead + QStringLiteral("\r\n") + detail)).toStdString()),
      Lead(std::move(lead)), Detail(std::move(detail)) {}

QString RunFailure::boxText(const QString& eventText) const {
    QStringList parts{Lead};
    if (!eventText.isEmpty())
        parts << eventText;
    if (!Detail.isEmpty())
        parts << Detail;
    return parts.join(QStringLiteral("\r\n"));
}

} // namespace tessaly
