// The user guide inside the program: docs/guide-ja.md (and the administrators' guide it points
// to) drawn by Qt from its Markdown, with its pictures and a table of contents, in a window of
// its own. F1 in a window opens it at that window's section.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace tessaly {

class GuideWindow : public QWidget {
    Q_OBJECT
public:
    // The window title, and the command's name in menus.
    static QString commandName();

    explicit GuideWindow(QWidget* parent = nullptr);

    // Shows the section whose heading is `heading`, at the top; false (and the guide's start
    // shown) when no heading of either guide reads so.
    bool showSection(const QString& heading);
    // The heading of the section at the top of the text.
    QString currentSection() const;

    QTextBrowser* Txt_Guide = nullptr;
    QTreeWidget* Tree_Contents = nullptr;

private:
    void load(const QString& document);
    void linkClicked(const QUrl& url);
    void contentsClicked(QTreeWidgetItem* item);

    QString document_; // the guide shown: its file name
};

// Opens the one guide window (made on first use, a window of its own so that no disabled or
// modal window holds it, centred on the screen of `from`) at `heading`, in front. It closes
// with the program.
GuideWindow& showGuide(const QString& heading, QWidget* from = nullptr);

// F1 anywhere in `window` opens the guide at `heading`.
void addGuideKey(QWidget& window, const QString& heading);

} // namespace tessaly
