// A widget drawn at most every 40 ms while its contents change in a burst: the main window's
// status bar while recipients go out hundreds a second, when laying out and drawing it for every
// text would cost more than sending the message. The timer also fires inside the SMTP client's
// waits for the server, so a slow message never leaves an old text on the screen.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QWidget;

namespace tessaly {

class DrawingThrottle : public QObject {
public:
    // From now on `widget` is drawn only from the timer, each time after `show` (which puts the
    // latest contents into it); once more when the throttle ends.
    DrawingThrottle(QWidget* widget, std::function<void()> show);
    ~DrawingThrottle() override;
    DrawingThrottle(const DrawingThrottle&) = delete;
    DrawingThrottle& operator=(const DrawingThrottle&) = delete;

private:
    void draw();

    QWidget* widget_;
    std::function<void()> show_;
    QTimer timer_;
};

} // namespace tessaly
