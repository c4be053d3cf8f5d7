#include "common/guide_window.h"

#include "common/window_fonts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <vector>

// The guides' resource is an object file of its own inside a static library: the linker takes it
// only when something names it, and it is registered by hand, from the global namespace.
static void registerGuideResources() { Q_INIT_RESOURCE(guide); }

namespace tessaly {

namespace {

// The guides and their pictures are compiled into the program: the guide always fits the
// program it explains, wherever the program was started from.
const QString kFolder = QStringLiteral(":/guide/");
const QString kUserGuide = QStringLiteral("guide-ja.md");
const QString kAdminGuide = QStringLiteral("oauth_guide_ja.md");
constexpr int kDocumentRole = Qt::UserRole;
constexpr int kHeadingRole = Qt::UserRole + 1;

QString readGuide(const QString& name) {
    registerGuideResources();
    QFile file(kFolder + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The anchor a link names a heading by, as the guide's own links write it (and as the
// project's web pages make it): lower case, blanks as hyphens, punctuation left out.
QString anchorOf(const QString& heading) {
    QString anchor;
    for (const QChar c : heading) {
        if (c.isLetterOrNumber())
            anchor += c.toLower();
        else if (c == QLatin1Char(' '))
            anchor += QLatin1Char('-');
        else if (c == QLatin1Char('-') || c == QLatin1Char('_'))
            anchor += c;
    }
    return anchor;
}

} // namespace

QString GuideWindow::commandName() { return QStringLiteral("使い方ガイド"); }

GuideWindow::GuideWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TTSY_GuideF"));
    setWindowTitle(QStringLiteral("Tessaly 2.7S ") + commandName());
    setFont(proportionalGothic(12));

    Tree_Contents = new QTreeWidget;
    Tree_Contents->setObjectName(QStringLiteral("Tree_Contents"));
    Tree_Contents->setHeaderLabel(QStringLiteral("目次"));
    Tree_Contents->setAccessibleName(QStringLiteral("目次"));
    Txt_Guide = new QTextBrowser;
    Txt_Guide->setObjectName(QStringLiteral("Txt_Guide"));
    Txt_Guide->setAccessibleName(commandName());
    Txt_Guide->setFont(proportionalGothic(14));
    Txt_Guide->setOpenLinks(false);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(Tree_Contents);
    splitter->addWidget(Txt_Guide);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    // The contents: each guide's title, its chapters and their sections.
    for (const QString& name : {kUserGuide, kAdminGuide}) {
        QTextDocument document;
        document.setMarkdown(readGuide(name));
        QTreeWidgetItem* title = nullptr;
        QTreeWidgetItem* chapter = nullptr;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
            const int level = block.blockFormat().headingLevel();
            if (level < 1 || level > 3)
                continue;
            QTreeWidgetItem* parentItem = level == 1 ? nullptr : level == 2 || !chapter ? title : chapter;
            auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(Tree_Contents);
            item->setText(0, block.text());
            item->setToolTip(0, block.text());
            item->setData(0, kDocumentRole, name);
            item->setData(0, kHeadingRole, block.text());
            if (level == 1)
                title = item;
            else if (level == 2)
                chapter = item;
        }
        if (title)
            title->setExpanded(true);
    }
    Tree_Contents->setMinimumWidth(200);

    connect(Txt_Guide, &QTextBrowser::anchorClicked, this, &GuideWindow::linkClicked);
    connect(Tree_Contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { contentsClicked(item); });
    connect(Tree_Contents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { contentsClicked(item); });

    // Roomy to read, but never larger than the screen.
    const QRect room = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(std::min(1000, room.width() * 9 / 10), std::min(760, room.height() * 8 / 10));
    load(kUserGuide);
}

void GuideWindow::load(const QString& document) {
    if (document_ == document)
        return;
    document_ = document;
    QTextDocument* text = Txt_Guide->document();
    text->setMarkdown(readGuide(document));
    // Headings become anchors the links can find; pictures are taken from beside the guide (with
    // their sharper twins on a screen of higher density).
    struct Picture {
        int position;
        int length;
        QTextImageFormat format;
    };
    std::vector<Picture> pictures;
    QTextCursor cursor(text);
    for (QTextBlock block = text->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() > 0) {
            cursor.setPosition(block.position());
            cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
            QTextCharFormat anchor;
            anchor.setAnchor(true);
            anchor.setAnchorNames({anchorOf(block.text())});
            cursor.mergeCharFormat(anchor);
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (format.name().contains(QLatin1Char(':')) || format.name().startsWith(QLatin1Char('/')))
                continue;
            format.setName(kFolder + format.name());
            pictures.push_back({fragment.position(), fragment.length(), format});
        }
    }
    for (const Picture& picture : pictures) {
        cursor.setPosition(picture.position);
        cursor.setPosition(picture.position + picture.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(picture.format);
    }
    text->setModified(false);
}

bool GuideWindow::showSection(const QString& heading) {
    const QList<QTreeWidgetItem*> found =
        Tree_Contents->findItems(heading, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) {
        load(kUserGuide);
        Txt_Guide->verticalScrollBar()->setValue(0);
        return false;
    }
    load(found.first()->data(0, kDocumentRole).toString());
    Tree_Contents->setCurrentItem(found.first());
    Tree_Contents->scrollToItem(found.first());
    Txt_Guide->scrollToAnchor(anchorOf(heading));
    return true;
}

QString GuideWindow::currentSection() const {
    QTextBlock block = Txt_Guide->cursorForPosition(QPoint(4, 4)).block();
    while (block.isValid() && block.blockFormat().headingLevel() == 0)
        block = block.previous();
    return block.isValid() ? block.text() : QString();
}

void GuideWindow::contentsClicked(QTreeWidgetItem* item) {
    if (item)
        showSection(item->data(0, kHeadingRole).toString());
}

void GuideWindow::linkClicked(const QUrl& url) {
    if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https") ||
        url.scheme() == QLatin1String("mailto")) {
        QDesktopServices::openUrl(url);
        return;
    }
    const QString name = QFileInfo(url.path()).fileName();
    if (name == kUserGuide || name == kAdminGuide)
        load(name);
    if (url.hasFragment())
        Txt_Guide->scrollToAnchor(url.fragment());
    else
        Txt_Guide->verticalScrollBar()->setValue(0);
}

GuideWindow& showGuide(const QString& heading, QWidget* from) {
    static QPointer<GuideWindow> window;
    if (!window) {
        window = new GuideWindow;
        // Reading the guide keeps no program alive: it closes with the main window.
        window->setAttribute(Qt::WA_QuitOnClose, false);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [] { delete window; });
        if (from && from->screen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(from->screen()->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->showSection(heading);
    window->show();
    window->raise();
    window->activateWindow();
    return *window;
}

void addGuideKey(QWidget& window, const QString& heading) {
    auto* key = new QShortcut(QKeySequence::HelpContents, &window);
    key->setObjectName(QStringLiteral("Key_Guide"));
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, &window,
                     [&window, heading] { showGuide(heading, &window); });
}

} // namespace tessaly

#include "moc_guide_window.cpp"
