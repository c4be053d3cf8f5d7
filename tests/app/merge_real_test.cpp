// A merged run against the real SMTP server, each stored message read back as a mail reader
// reads it (Python's email package): the same table as CSV in UTF-8 with a BOM, as CSV in
// Shift-JIS and as an Excel workbook gives every row exactly its own values, file and copies,
// and the blind copy is in no header.
#include "app_harness.h"

#include "fixtures/fixtures_dir.h"
#include "fixtures/smtp_real_server.h"
#include "fixtures/xlsx_writer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using apptest::App;
using apptest::decodedMessage;
using tessaly::test::RealSmtpServer;

constexpr int kRows = 50;
constexpr int kBlindRow = 7;


QString company(int row) { return QStringLiteral("株式会社髙%1商事").arg(row); }
QString person(int row) { return QStringLiteral("山田%1").arg(row); }
QString amount(int row) { return QStringLiteral("%1").arg(row * 1230); }
QByteArray fileBytes(int row) { return "invoice of row " + QByteArray::number(row) + QByteArray(row * 100, 'x'); }

std::vector<std::vector<QString>> tableRows() {
    std::vector<std::vector<QString>> rows = {{QStringLiteral("メールアドレス"), QStringLiteral("会社"),
                                               QStringLiteral("名前"), QStringLiteral("金額"),
                                               QStringLiteral("添付ファイル"), QStringLiteral("CC"),
                                               QStringLiteral("BCC")}};
    for (int i = 1; i <= kRows; ++i)
        rows.push_back({QStringLiteral("r%1@example.jp").arg(i), company(i), person(i), amount(i),
                        QStringLiteral("請求書/請求書%1.txt").arg(i), QStringLiteral("cc%1@example.jp").arg(i),
                        i == kBlindRow ? QStringLiteral("secret%1@example.jp").arg(i) : QString()});
    return rows;
}

QString csvText() {
    QString text;
    for (const auto& row : tableRows()) {
        QStringList cells;
        for (const QString& cell : row)
            cells << (cell.contains(QLatin1Char(',')) ? QLatin1Char('"') + cell + QLatin1Char('"') : cell);
        text += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text;
}

TEST(MergedRun, EveryRowGetsItsOwnValuesFileAndCopiesFromEachKindOfTable) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("請求書")));
    for (int i = 1; i <= kRows; ++i) {
        QFile f(folder.filePath(QStringLiteral("請求書/請求書%1.txt").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(fileBytes(i));
    }
    const QString utf8 = folder.filePath(QStringLiteral("一覧_utf8.csv"));
    const QString shiftJis = folder.filePath(QStringLiteral("一覧_sjis.csv"));
    const QString workbook = folder.filePath(QStringLiteral("一覧.xlsx"));
    {
        QFile a(utf8), b(shiftJis);
        ASSERT_TRUE(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
        a.write("\xEF\xBB\xBF" + csvText().toUtf8());
        b.write(sjis(csvText()));
    }
    ASSERT_TRUE(tessaly::test::WriteXlsxStrings(workbook, tableRows()));

    const QString stamp = QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(QDateTime::currentMSecsSinceEpoch());
    const QStringList tables{utf8, shiftJis, workbook};
    std::vector<QString> senders;
    for (const QString& table : tables) {
        SCOPED_TRACE(table.toStdString());
        senders.push_back(QStringLiteral("merge-%1-%2@tessaly.test").arg(senders.size()).arg(stamp));
        App app(TestIni()
                    .settei(QStringLiteral("Host"), QStringLiteral("127.0.0.1"))
                    .settei(QStringLiteral("Port"), QString::number(RealSmtpServer::port()))
                    .settei(QStringLiteral("User"), QStringLiteral("pc01"))
                    .settei(QStringLiteral("From"), senders.back())
                    .settei(QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")));
        app.program->settings().Charset = 1; // 髙 goes as UTF-8
        app.dialogs.queueFileName(table);
        app.main().TB_MergeOpenClick();
        app.edit("Edt_Subject")->setText(QStringLiteral("{{会社}} {{名前}}様 ご請求額{{金額}}円"));
        app.setBody(QStringLiteral("{{会社}}\n{{名前}}様\nご請求額は{{金額}}円です。"));
        app.main().setEnabled(true);
        app.tool("TB_Send")->click();
        EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
        EXPECT_EQ(app.dialogs.count(FakeDialogs::Kind::Error), 0) << app.dialogs.lastText().toStdString();
    }

    std::vector<std::vector<QJsonObject>> decoded(static_cast<std::size_t>(tables.size()));
    for (std::size_t t = 0; t < decoded.size(); ++t) {
        const auto stored = RealSmtpServer::messagesFrom(senders[t]);
        ASSERT_EQ(stored.size(), static_cast<std::size_t>(kRows));
        for (const auto& message : stored) {
            const int row = message.rcptTos.value(0).mid(1, message.rcptTos.value(0).indexOf('@') - 1).toInt();
            SCOPED_TRACE(row);
            QStringList envelope{QStringLiteral("r%1@example.jp").arg(row), QStringLiteral("cc%1@example.jp").arg(row)};
            if (row == kBlindRow)
                envelope << QStringLiteral("secret%1@example.jp").arg(row);
            EXPECT_EQ(message.rcptTos, envelope);
            QJsonObject m = decodedMessage(message.data);
            EXPECT_EQ(m[QStringLiteral("subject")].toString(),
                      QStringLiteral("%1 %2様 ご請求額%3円").arg(company(row), person(row), amount(row)));
            EXPECT_EQ(m[QStringLiteral("cc")].toString(), QStringLiteral("cc%1@example.jp").arg(row));
            QString text = m[QStringLiteral("text")].toString();
            text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            EXPECT_TRUE(text.contains(
                QStringLiteral("%1\n%2様\nご請求額は%3円です。").arg(company(row), person(row), amount(row))))
                << m[QStringLiteral("text")].toString().toStdString();
            const QJsonArray files = m[QStringLiteral("files")].toArray();
            ASSERT_EQ(files.size(), 1);
            EXPECT_EQ(files[0].toObject()[QStringLiteral("filename")].toString(), QStringLiteral("請求書%1.txt").arg(row));
            EXPECT_EQ(files[0].toObject()[QStringLiteral("sha256")].toString().toLatin1(),
                      QCryptographicHash::hash(fileBytes(row), QCryptographicHash::Sha256).toHex());
            for (const QJsonValue value : m[QStringLiteral("header_values")].toArray())
                EXPECT_FALSE(value.toString().contains(QStringLiteral("secret"))) << value.toString().toStdString();
            EXPECT_FALSE(message.data.contains("secret"));
            // What may differ between the kinds of table: the message's time, id and boundary.
            for (const char* key : {"header_names", "header_values", "defects"})
                m.remove(QLatin1String(key));
            m[QStringLiteral("row")] = row;
            decoded[t].push_back(m);
        }
        std::sort(decoded[t].begin(), decoded[t].end(), [](const QJsonObject& a, const QJsonObject& b) {
            return a[QStringLiteral("row")].toInt() < b[QStringLiteral("row")].toInt();
        });
    }
    EXPECT_EQ(decoded[0], decoded[1]);
    EXPECT_EQ(decoded[0], decoded[2]);
}

} // namespace
