// The main window's status bar StatusBar1: the progress bar ProgressBar1 over panel 0, the status
// texts in panel 1, and the attached files' count and size while there are any. While a run
// sends, the texts and the progress are drawn from a timer, not for every change.
#pragma once

#include <QStatusBar>
#include <QString>
#include <memory>
#include <utility>

class QLabel;
class QProgressBar;

namespace tessaly {

class RunStatusBar : public QStatusBar {
public:
    explicit RunStatusBar(QWidget* parent);
    ~RunStatusBar() override;

    QProgressBar* progressBar() const { return progress_; }
    const QString& status() const { return status_; }
    void setStatus(const QString& text);
    void setProgress(int done, int total);
    // Empty: no files, nothing shown.
    void setAttachments(const QString& summary);
    // On while a run sends (see DrawingThrottle); off draws the latest state at once.
    void setThrottled(bool on);

private:
    void showStatus();
    void showProgress();

    QProgressBar* progress_;
    QLabel* panel1_;
    QLabel* attachments_ = nullptr;
    QString status_;
    std::pair<int, int> shownProgress_{0, 100};
    std::unique_ptr<QObject> throttle_;
};

} // namespace tessaly
