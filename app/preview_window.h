// The preview of a send run: every message of the run as its recipient reads it and as it goes
// on the wire, built by the run's own message builder, and whatever the run would refuse.
#pragma once

#include "sending/run_preview.h"
#include "smtp/message_builder.h"

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <vector>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;

namespace tessaly {

// The wire bytes as text: ESC, which would otherwise not be seen, becomes "<ESC>"; lines end
// with "\n".
QString visibleSource(const QByteArray& wire);
// What a mail reader shows: From, To, Subject and Date decoded, an empty line, the body lines.
QStringList readerLines(const WireMessage& message);

class TTSY_PreviewF : public QDialog {
    Q_OBJECT
public:
    TTSY_PreviewF(RunPreview preview, QWidget* parent);

    // Shows the message of the entry `row`.
    void showEntry(int row);

private:
    RunPreview preview_;
    QLabel* Label_Summary = nullptr;
    QLabel* Label_Refusal = nullptr;
    QListWidget* List_Preview = nullptr;
    QTabWidget* Tab_Preview = nullptr;
    QPlainTextEdit* Memo_Preview = nullptr;
    QPlainTextEdit* Memo_Source = nullptr;
};

} // namespace tessaly
