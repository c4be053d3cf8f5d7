#include "app/run_status_bar.h"

#include "common/drawing_throttle.h"

#include <QLabel>
#include <QProgressBar>

namespace tessaly {

RunStatusBar::RunStatusBar(QWidget* parent)
    : QStatusBar(parent), progress_(new QProgressBar(this)), panel1_(new QLabel(this)) {
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(false);
    // Panel 0 (230 pixels) is covered by the progress bar; panel 1 takes the rest and shows the
    // status texts.
    auto* panel0 = new QWidget(this);
    panel0->setObjectName(QStringLiteral("StatusBar1_Panel0"));
    panel0->setFixedWidth(230);
    addWidget(panel0);
    progress_->setObjectName(QStringLiteral("ProgressBar1"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setGeometry(5, 5, 221, 16);
    progress_->raise();
    panel1_->setObjectName(QStringLiteral("StatusBar1_Panel1"));
    addWidget(panel1_, 1);
}

RunStatusBar::~RunStatusBar() = default;

void RunStatusBar::setStatus(const QString& text) {
    status_ = text;
    if (!throttle_)
        showStatus();
}

void RunStatusBar::showStatus() {
    if (panel1_->text() == status_)
        return;
    panel1_->setText(status_);
    panel1_->setToolTip(status_); // a text longer than the panel can still be read whole
}

void RunStatusBar::setProgress(int done, int total) {
    shownProgress_ = {done, total};
    if (!throttle_)
        showProgress();
}

void RunStatusBar::showProgress() {
    if (progress_->maximum() != shownProgress_.second)
        progress_->setRange(0, shownProgress_.second);
    progress_->setValue(shownProgress_.first);
}

void RunStatusBar::setAttachments(const QString& summary) {
    if (!attachments_) {
        if (summary.isEmpty())
            return;
        attachments_ = new QLabel(this);
        attachments_->setObjectName(QStringLiteral("StatusBar1_Attachments"));
        addPermanentWidget(attachments_);
    }
    attachments_->setText(summary);
    attachments_->setVisible(!summary.isEmpty());
}

void RunStatusBar::setThrottled(bool on) {
    if (!on) {
        throttle_.reset(); // draws once more as it ends
        return;
    }
    if (!throttle_)
        throttle_ = std::make_unique<DrawingThrottle>(this, [this] {
            showStatus();
            showProgress();
        });
}

} // namespace tessaly
