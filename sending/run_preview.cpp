#include "sending/run_preview.h"

#include "address/address_book.h"
#include "common/errors.h"
#include "common/text.h"
#include "sending/attachments.h"
#include "sending/run_checks.h"
#include "smtp/run_messages.h"

namespace tessaly {

RunPreview PreviewOfRun(const RunMail& mail, const RunSettings& settings, QString refusal,
                        const LocalTime& now) {
    RunPreview preview;
    preview.refusal = std::move(refusal);
    const QString sendRefusal = SendRefusal(mail, settings);
    if (!sendRefusal.isEmpty()) {
        // The texts cannot be sent as they are: nothing to build a message from.
        if (preview.refusal.isEmpty())
            preview.refusal = sendRefusal;
        return preview;
    }
    if (preview.refusal.isEmpty())
        preview.refusal = PortRefusal(settings);

    MessageTexts texts = MessageTextsOf(mail, settings);
    try {
        texts.attachments = ReadAttachments(mail.attachments, texts.bodySjis);
    } catch (const Error& e) {
        // Shown as the run would refuse it; the messages are shown without the files.
        if (preview.refusal.isEmpty())
            preview.refusal = QString::fromStdString(e.what());
    }
    const MessageBuilder builder(texts, settings.charset);
    int number = 0;
    for (const std::string& entry : mail.recipientsSjis) {
        const std::size_t index = static_cast<std::size_t>(number++);
        const RecipientParts parts = SplitRecipient(entry);
        // A merged row's own message, as the run builds it.
        PreviewEntry shown{fromSjis(entry), {}, {}};
        try {
            shown.message = MessageFor(builder, mail, settings, index, now);
        } catch (const Error& e) {
            // A row's file that changed since it was checked: shown as the run would refuse it.
            shown.message = builder.build(AddresseeFor(mail, settings, index, now));
            shown.refusal = QString::fromStdString(e.what());
        }
        // The blind copies are in no header: the label shows them, and the row's own files.
        shown.label += fromSjis(CopiesText(mail, settings, index));
        if (index < mail.own.size()) {
            QStringList files;
            for (const std::string& path : mail.own[index].attachmentPathsSjis)
                files << fromSjis(AttachmentNameOf(path));
            if (!files.isEmpty())
                shown.label += QStringLiteral("（添付：%1）").arg(files.join(QStringLiteral("、")));
        }
        if (!MailAddress_Check(parts.address))
            shown.refusal = QStringLiteral("%1 件目の宛先のアドレスに誤りがあります。").arg(number);
        preview.entries.push_back(std::move(shown));
    }
    if (settings.everySendOn) {
        const NotifyCopy copy =
            NotifyCopyOf(texts, mail.recipientsSjis,
                         settings.atesaki ? std::optional<std::string>(settings.keisyouSjis)
                                          : std::nullopt);
        // As the run makes it: the notify copy has no addressee line.
        preview.entries.push_back(
            {QStringLiteral("毎回通知：%1").arg(fromSjis(settings.everySendSjis)),
             MessageBuilder(copy.texts, settings.charset)
                 .build(AddresseeOf(settings.everySendSjis, settings.fromSjis, now)),
             {}});
    }
    const QString server =
        settings.port < 0
            ? QString()
            : QStringLiteral("%1（ポート %2）").arg(fromSjis(settings.hostSjis)).arg(settings.port);
    preview.summary = QStringLiteral("送信するメッセージは %1 通です。送信サーバー：%2")
                          .arg(preview.entries.size())
                          .arg(server);
    if (texts.attachments) {
        QStringList files;
        for (const AttachmentPart& part : texts.attachments->parts)
            files << QStringLiteral("%1（%2、%3）")
                         .arg(fromSjis(part.nameSjis), QString::fromStdString(part.contentType),
                              SizeText(static_cast<std::int64_t>(part.size)));
        preview.summary += QStringLiteral("\n添付ファイル：") + files.join(QStringLiteral("、"));
    }
    return preview;
}

} // namespace tessaly
