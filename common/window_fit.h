// Windows whose controls stand at fixed places can be taller than the screen: at 200 % on a
// 1920 x 1080 screen, 640 pixels of window are 1280 of the screen's 1080.
#pragma once

#include <QObject>
#include <QSize>
#include <vector>

class QScrollArea;
class QWidget;

namespace tessaly {

// Holds the controls of a window on a page of the window's design size. While the window fits
// on its screen, the page is shown whole and the window has exactly the design size; when it
// does not, the window takes what the screen has, the page scrolls, and the buttons along the
// bottom stay in view below it. Fitted again whenever the window is shown.
class FittedPage : public QObject {
    Q_OBJECT
public:
    // `window` gets a page of `designSize`; its controls go on page(), its bottom buttons on the
    // window itself (see keepInView).
    FittedPage(QWidget& window, QSize designSize);

    QWidget* page() const { return page_; }
    // `buttons`, children of the window placed as if on the page, stand in the strip of the
    // design from `stripTop` down to its bottom; that strip never scrolls away.
    void keepInView(int stripTop, std::vector<QWidget*> buttons);
    // Sizes the window for its screen; true when the page scrolls.
    bool fit();
    // Sizes the window for `room` (the screen's available size less the window's frame).
    bool fitInto(QSize room);
    bool scrolls() const { return scrolls_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Pinned {
        QWidget* widget;
        int x;
        int y;
    };
    QWidget& window_;
    QSize design_;
    QScrollArea* area_;
    QWidget* page_;
    int stripTop_;
    std::vector<Pinned> pinned_;
    bool scrolls_ = false;
};

} // namespace tessaly
