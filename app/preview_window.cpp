#include "app/preview_window.h"

#include "common/cp932.h"
#include "common/text.h"
#include "common/window_fonts.h"
#include "common/guide_window.h"
#include "jconvert/jconvert.h"
#include "smtp/smtp_client.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tessaly {

namespace {

QString fromJis(const std::string& jis) {
    return fromSjis(jconvert::JisToSjis(jis));
}
QString fromUtf8Bytes(const QByteArray& utf8) {
    return fromSjis(
        cp932::fromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())))
            .bytes);
}

// A header value with its encoded words decoded; the blanks between two words are folding.
QString decodedValue(const std::string& value) {
    static const QRegularExpression word(
        QStringLiteral("=\\?(ISO-2022-JP|UTF-8)\\?B\\?([A-Za-z0-9+/=]*)\\?="),
        QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size()));
    QString decoded;
    qsizetype last = 0;
    bool afterWord = false;
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString between = text.mid(last, m.capturedStart() - last);
        if (!(afterWord && between.trimmed().isEmpty()))
            decoded += between;
        const QByteArray bytes = QByteArray::fromBase64(m.captured(2).toLatin1());
        decoded += m.captured(1).compare(QStringLiteral("UTF-8"), Qt::CaseInsensitive) == 0
                       ? fromUtf8Bytes(bytes)
                       : fromJis(bytes.toStdString());
        last = m.capturedEnd();
        afterWord = true;
    }
    return decoded + text.mid(last);
}

} // namespace

QString visibleSource(const QByteArray& wire) {
    QString text = QString::fromLatin1(wire);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar(0x1B), QStringLiteral("<ESC>"));
    return text;
}

QStringList readerLines(const WireMessage& message) {
    // Unfolded: a continuation line belongs to the line before it.
    std::vector<std::string> unfolded;
    for (const std::string& line : message.header) {
        if (!line.empty() && line[0] == ' ' && !unfolded.empty())
            unfolded.back() += line;
        else
            unfolded.push_back(line);
    }
    QStringList lines;
    for (const char* name : {"From", "To", "Subject", "Date"}) {
        const std::string prefix = std::string(name) + ": ";
        for (const std::string& line : unfolded)
            if (line.compare(0, prefix.size(), prefix) == 0)
                lines << QString::fromLatin1(name) + QStringLiteral(": ") +
                             decodedValue(line.substr(prefix.size()));
    }
    lines << QString();
    if (!message.utf8) {
        for (const std::string& line : message.body)
            lines << fromJis(line);
        return lines;
    }
    QByteArray base64;
    for (const std::string& line : message.body)
        base64.append(line.data(), static_cast<qsizetype>(line.size()));
    QString text = fromUtf8Bytes(QByteArray::fromBase64(base64));
    // The client's empty line before the body, which the ISO-2022-JP lines above leave out too.
    if (text.startsWith(QStringLiteral("\r\n")))
        text.remove(0, 2);
    if (text.endsWith(QStringLiteral("\r\n")))
        text.chop(2);
    lines << text.split(QStringLiteral("\r\n"));
    return lines;
}

TTSY_PreviewF::TTSY_PreviewF(RunPreview preview, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      preview_(std::move(preview)) {
    setObjectName(QStringLiteral("TTSY_PreviewF"));
    setWindowTitle(QStringLiteral("プレビュー"));
    tessaly::addGuideKey(*this, QStringLiteral("送る前に確かめる（プレビューとテスト送信）"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(proportionalGothic(12));
    setFixedSize(540, 400); // within the main window

    Label_Summary = new QLabel(preview_.summary, this);
    Label_Summary->setObjectName(QStringLiteral("Label_Summary"));
    Label_Summary->setWordWrap(true);
    Label_Refusal = new QLabel(preview_.refusal, this);
    Label_Refusal->setObjectName(QStringLiteral("Label_Refusal"));
    Label_Refusal->setWordWrap(true);
    Label_Refusal->setStyleSheet(QStringLiteral("color: #b00000;"));
    Label_Refusal->setVisible(!preview_.refusal.isEmpty());

    List_Preview = new QListWidget(this);
    List_Preview->setObjectName(QStringLiteral("List_Preview"));
    List_Preview->setAccessibleName(QStringLiteral("宛先"));
    List_Preview->setFixedWidth(150);
    for (const PreviewEntry& entry : preview_.entries)
        List_Preview->addItem(entry.label);

    const QFont fixed = fixedGothic(13);
    const auto memo = [&](const char* name) {
        auto* m = new QPlainTextEdit(this);
        m->setObjectName(QString::fromLatin1(name));
        m->setReadOnly(true);
        m->setLineWrapMode(QPlainTextEdit::NoWrap); // a line of the message is a line here
        m->setFont(fixed);
        return m;
    };
    Memo_Preview = memo("Memo_Preview");
    Memo_Preview->setAccessibleName(QStringLiteral("プレビュー"));
    Memo_Source = memo("Memo_Source");
    Memo_Source->setAccessibleName(QStringLiteral("ソース"));
    Tab_Preview = new QTabWidget(this);
    Tab_Preview->setObjectName(QStringLiteral("Tab_Preview"));
    Tab_Preview->addTab(Memo_Preview, QStringLiteral("プレビュー"));
    Tab_Preview->addTab(Memo_Source, QStringLiteral("ソース"));

    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    close->setObjectName(QStringLiteral("Cmd_Close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* middle = new QHBoxLayout;
    middle->addWidget(List_Preview);
    middle->addWidget(Tab_Preview, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_Summary);
    layout->addWidget(Label_Refusal);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    connect(List_Preview, &QListWidget::currentRowChanged, this, &TTSY_PreviewF::showEntry);
    if (!preview_.entries.empty())
        List_Preview->setCurrentRow(0);
}

void TTSY_PreviewF::showEntry(int row) {
    if (row < 0 || row >= static_cast<int>(preview_.entries.size()))
        return;
    const PreviewEntry& entry = preview_.entries[static_cast<std::size_t>(row)];
    QStringList refusals;
    for (const QString& text : {preview_.refusal, entry.refusal})
        if (!text.isEmpty())
            refusals << text;
    Label_Refusal->setText(refusals.join(QLatin1Char('\n')));
    Label_Refusal->setVisible(!refusals.isEmpty());
    Memo_Preview->setPlainText(readerLines(entry.message).join(QLatin1Char('\n')));
    const QByteArray wire = MessageData(entry.message);
    // A file's Base64 text shows its first lines: the part's structure is what one looks at.
    QString source = visibleSource(MessageData(entry.message, 4));
    static const QRegularExpression cut(QStringLiteral("^\\[(\\d+) lines of Base64\\]$"),
                                        QRegularExpression::MultilineOption);
    source.replace(cut, QStringLiteral("（Base64 の残り \\1 行は省略）"));
    Memo_Source->setPlainText(source);
    Memo_Source->setProperty("wireBytes", wire);
}

} // namespace tessaly

#include "moc_preview_window.cpp"
