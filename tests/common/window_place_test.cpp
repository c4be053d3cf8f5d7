#include "common/window_place.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace {

// A stored position that puts a window partly or wholly off the screen brings it back wholly
// on it by the shortest move; a position on the screen stays as it was. Positions are given
// from the screen's available area and the window's size on the screen.
struct Stored {
    const char* name;
    QSize size;
    std::function<QPoint(const QRect& area, QSize outer)> wanted;
    std::function<QPoint(const QRect& area, QSize outer)> placed;
};

void PrintTo(const Stored& s, std::ostream* os) { *os << s.name; }

class StoredPosition : public ::testing::TestWithParam<Stored> {};

TEST_P(StoredPosition, PlacesTheWindowWhollyOnTheScreen) {
    const Stored& s = GetParam();
    QWidget window;
    window.setFixedSize(s.size);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize outer = tessaly::outerSize(window);
    ASSERT_GE(outer.width(), s.size.width());
    ASSERT_GE(outer.height(), s.size.height());
    const QPoint at = tessaly::placeWindow(window, s.wanted(area, outer));
    EXPECT_EQ(at, s.placed(area, outer));
    EXPECT_EQ(window.pos(), at);
    if (outer.width() <= area.width() && outer.height() <= area.height()) {
        EXPECT_TRUE(area.contains(QRect(at, outer))) << "not wholly on the screen";
    }
}

const QSize kWindow(300, 200);

INSTANTIATE_TEST_SUITE_P(
    Edges, StoredPosition,
    ::testing::Values(
        Stored{"OnTheScreen", kWindow, [](QRect a, QSize) { return a.topLeft() + QPoint(10, 20); },
               [](QRect a, QSize) { return a.topLeft() + QPoint(10, 20); }},
        Stored{"AtTheBottomRightCorner", kWindow,
               [](QRect a, QSize o) { return QPoint(a.right() + 1 - o.width(), a.bottom() + 1 - o.height()); },
               [](QRect a, QSize o) { return QPoint(a.right() + 1 - o.width(), a.bottom() + 1 - o.height()); }},
        Stored{"OffTheLeft", kWindow, [](QRect a, QSize) { return QPoint(a.left() - 30, a.top() + 50); },
               [](QRect a, QSize) { return QPoint(a.left(), a.top() + 50); }},
        Stored{"OffTheRight", kWindow, [](QRect a, QSize) { return QPoint(a.right() - 100, a.top() + 50); },
               [](QRect a, QSize o) { return QPoint(a.right() + 1 - o.width(), a.top() + 50); }},
        Stored{"OffTheTop", kWindow, [](QRect a, QSize) { return QPoint(a.left() + 50, a.top() - 3); },
               [](QRect a, QSize) { return QPoint(a.left() + 50, a.top()); }},
        Stored{"OffTheBottom", kWindow, [](QRect a, QSize) { return QPoint(a.left() + 50, a.bottom() - 24); },
               [](QRect a, QSize o) { return QPoint(a.left() + 50, a.bottom() + 1 - o.height()); }},
        Stored{"FarBeyondTheBottomRight", kWindow, [](QRect, QSize) { return QPoint(5000, 4000); },
               [](QRect a, QSize o) { return QPoint(a.right() + 1 - o.width(), a.bottom() + 1 - o.height()); }},
        Stored{"FarBeyondTheTopLeft", kWindow, [](QRect, QSize) { return QPoint(-5000, -4000); },
               [](QRect a, QSize) { return a.topLeft(); }},
        Stored{"LargerThanTheScreen", QSize(4000, 3000),
               [](QRect a, QSize) { return a.topLeft() + QPoint(40, 40); },
               [](QRect a, QSize) { return a.topLeft(); }}),
    [](const ::testing::TestParamInfo<Stored>& info) { return std::string(info.param.name); });

} // namespace
