// The files attached to the mail: a small window that lists them (name, size, type) with the
// total, adds them through the file dialog (several at once) or by dropping them on it, and
// removes them. The list belongs to the mail: it is emptied with it and never saved.
#pragma once

#include "sending/attachments.h"

#include <QDialog>
#include <QStringList>
#include <vector>

class QLabel;
class QMimeData;
class QPushButton;
class QTreeWidget;

namespace tessaly {
class Dialogs;
}

// A top-level window without a Qt parent, so that disabling the main window leaves it usable.
class TTSY_AttachF : public QDialog {
    Q_OBJECT
public:
    TTSY_AttachF(tessaly::Dialogs& dialogs, QWidget* mainWindow);

    // Disables the main window and shows this window without waiting.
    void showList();

    const std::vector<tessaly::AttachedFile>& files() const { return files_; }
    // Adds the files at these paths in order; one already listed is not added twice, one that
    // cannot be attached is named in a message and the rest are still added.
    void addPaths(const QStringList& fsPaths);
    void clear();

    void Cmd_AddClick();
    void Cmd_DelClick();
    void Cmd_CloseClick();

    // Every way of closing ends here: the main window is enabled.
    void done(int result) override;

    // The local files a drop carries; empty when it carries none.
    static QStringList droppedFiles(const QMimeData* data);

signals:
    void filesChanged();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showFiles();

    tessaly::Dialogs& dialogs_;
    QWidget* main_;
    std::vector<tessaly::AttachedFile> files_;
    QString folder_; // the file dialog keeps its folder between uses
    QTreeWidget* Lst_Attach = nullptr;
    QLabel* Label_Total = nullptr;
    QPushButton* Cmd_Add = nullptr;
    QPushButton* Cmd_Del = nullptr;
    QPushButton* Cmd_Close = nullptr;
};
