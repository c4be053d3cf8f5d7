#include "app/toolbar_icons.h"

#include <QToolButton>

#include <QToolBar>

#include <QAction>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tessaly {

namespace {

const char* themeName(ToolIcon which) {
    switch (which) {
    case ToolIcon::Send: return "mail-send";
    case ToolIcon::Stop: return "process-stop";
    case ToolIcon::AddressBook: return "x-office-address-book";
    case ToolIcon::Read: return "document-open";
    case ToolIcon::Save: return "document-save";
    case ToolIcon::Clear: return "edit-clear";
    case ToolIcon::Log: return "document-properties";
    case ToolIcon::Settings: return "preferences-system";
    case ToolIcon::End: return "application-exit";
    }
    return "";
}

// Simple line pictures on a 24 x 24 grid; they only have to tell the buttons apart.
void paint(QPainter& p, ToolIcon which) {
    const QColor ink(0x30, 0x30, 0x30);
    p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (which) {
    case ToolIcon::Send: { // envelope with an arrow
        p.setBrush(QColor(0xf4, 0xf0, 0xd8));
        p.drawRect(QRectF(2.5, 6.5, 15, 11));
        p.drawPolyline(QPolygonF({{2.5, 6.5}, {10, 12.5}, {17.5, 6.5}}));
        p.setPen(QPen(QColor(0x1a, 0x6f, 0xc4), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 19), QPointF(22, 19));
        p.drawPolyline(QPolygonF({{19, 16}, {22, 19}, {19, 22}}));
        break;
    }
    case ToolIcon::Stop: { // red octagon
        p.setBrush(QColor(0xd0, 0x30, 0x30));
        QPolygonF octagon;
        for (const QPointF& pt : {QPointF(8, 2), QPointF(16, 2), QPointF(22, 8), QPointF(22, 16),
                                  QPointF(16, 22), QPointF(8, 22), QPointF(2, 16), QPointF(2, 8)})
            octagon << pt;
        p.drawPolygon(octagon);
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 12), QPointF(16, 12));
        break;
    }
    case ToolIcon::AddressBook: { // book with a person
        p.setBrush(QColor(0x8a, 0xb4, 0xe0));
        p.drawRoundedRect(QRectF(4.5, 2.5, 15, 19), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(12, 9.5), 2.8, 2.8);
        p.drawChord(QRectF(7, 13, 10, 8), 0, 180 * 16);
        break;
    }
    case ToolIcon::Read: { // open folder
        p.setBrush(QColor(0xf0, 0xc8, 0x50));
        p.drawPolygon(QPolygonF({{2.5, 5.5}, {9, 5.5}, {11, 7.5}, {19.5, 7.5}, {19.5, 19.5},
                                 {2.5, 19.5}}));
        p.setBrush(QColor(0xf8, 0xdc, 0x80));
        p.drawPolygon(QPolygonF({{5.5, 11.5}, {22.5, 11.5}, {19.5, 19.5}, {2.5, 19.5}}));
        break;
    }
    case ToolIcon::Save: { // floppy disk
        p.setBrush(QColor(0x50, 0x70, 0xb0));
        p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(7.5, 3.5, 9, 6));
        p.drawRect(QRectF(6.5, 13.5, 11, 7));
        break;
    }
    case ToolIcon::Clear: { // blank sheet with a new-page star
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygonF({{5.5, 2.5}, {14.5, 2.5}, {19.5, 7.5}, {19.5, 21.5},
                                 {5.5, 21.5}}));
        p.drawPolyline(QPolygonF({{14.5, 2.5}, {14.5, 7.5}, {19.5, 7.5}}));
        p.setPen(QPen(QColor(0xe0, 0x90, 0x10), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 14), QPointF(16, 14));
        p.drawLine(QPointF(12.5, 10.5), QPointF(12.5, 17.5));
        break;
    }
    case ToolIcon::Log: { // sheet with lines
        p.setBrush(QColor(0xfa, 0xfa, 0xf0));
        p.drawRect(QRectF(4.5, 2.5, 15, 19));
        for (double y : {7.0, 11.0, 15.0, 19.0})
            p.drawLine(QPointF(7.5, y), QPointF(16.5, y));
        break;
    }
    case ToolIcon::Settings: { // gear
        p.setBrush(QColor(0x90, 0x90, 0x98));
        QPainterPath gear;
        gear.addEllipse(QPointF(12, 12), 7.5, 7.5);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(12, 12);
            p.rotate(i * 45.0);
            p.drawRect(QRectF(-1.8, -10.5, 3.6, 4));
            p.restore();
        }
        p.drawPath(gear);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(12, 12), 3, 3);
        break;
    }
    case ToolIcon::End: { // door with an arrow out
        p.setBrush(QColor(0xb0, 0x80, 0x50));
        p.drawRect(QRectF(3.5, 2.5, 11, 19));
        p.setPen(QPen(QColor(0xc0, 0x20, 0x20), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 12), QPointF(21, 12));
        p.drawPolyline(QPolygonF({{18, 9}, {21, 12}, {18, 15}}));
        break;
    }
    }
}

QIcon drawn(ToolIcon which) {
    QIcon icon;
    for (int size : {24, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 24.0, size / 24.0);
        paint(p, which);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QIcon toolIcon(ToolIcon which) {
    const QString name = QString::fromLatin1(themeName(which));
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    return drawn(which);
}

QToolButton* addToolButton(QToolBar* bar, const char* name, ToolIcon icon, const QString& hint, bool enabled) {
    auto* action = new QAction(toolIcon(icon), hint, bar);
    action->setToolTip(hint);
    bar->addAction(action);
    auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setFixedWidth(50);
    button->setEnabled(enabled);
    return button;
}

} // namespace tessaly
