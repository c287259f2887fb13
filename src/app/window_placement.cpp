#include "app/window_placement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>

namespace {

// The title bar and borders around `window`'s contents; null before it has
// had a frame.
QMargins FrameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry(), inner = window->geometry();
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                    frame.right() - inner.right(), frame.bottom() - inner.bottom());
}

// What a frame will most likely add, when no window has shown one yet.
QMargins LikelyFrameMargins() {
    const QStyle* style = QApplication::style();
    const int border = style ? style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth) : 4;
    const int title = style ? style->pixelMetric(QStyle::PM_TitleBarHeight) : 24;
    return QMargins(border, title + border, border, border);
}

}  // namespace

QRect FitInside(const QRect& frame, const QRect& area) {
    QRect r = frame;
    if (r.width() > area.width()) r.setWidth(area.width());
    if (r.height() > area.height()) r.setHeight(area.height());
    if (r.right() > area.right()) r.moveRight(area.right());
    if (r.bottom() > area.bottom()) r.moveBottom(area.bottom());
    if (r.left() < area.left()) r.moveLeft(area.left());
    if (r.top() < area.top()) r.moveTop(area.top());
    return r;
}

QRect CentredOver(const QSize& size, const QRect& anchor, const QRect& area) {
    QRect r(QPoint(0, 0), size);
    r.moveCenter(anchor.isValid() ? anchor.center() : area.center());
    return FitInside(r, area);
}

QRect BringOnto(const QRect& frame, const QRect& anchor, const QRect& area) {
    if (area.contains(frame)) return frame;
    if (area.intersects(frame)) return FitInside(frame, area);
    return CentredOver(frame.size(), anchor, area);
}

QScreen* ScreenHolding(const QWidget* window) {
    QScreen* best = nullptr;
    if (window) {
        const QRect frame = window->frameGeometry();
        qint64 bestArea = 0;
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect common = screen->geometry().intersected(frame);
            const qint64 area = qint64(common.width()) * common.height();
            if (area > bestArea) {
                bestArea = area;
                best = screen;
            }
        }
    }
    return best ? best : QGuiApplication::primaryScreen();
}

void PlaceWindow(QWidget* window, const QWidget* anchor) {
    if (!window) return;
    QScreen* screen = ScreenHolding(anchor);
    if (!screen) return;
    const QRect area = screen->availableGeometry();

    QMargins margins = FrameMargins(window);
    if (margins.isNull() && anchor) margins = FrameMargins(anchor);
    if (margins.isNull()) margins = LikelyFrameMargins();
    const QSize inner = window->testAttribute(Qt::WA_Resized) || window->isVisible()
                            ? window->size()
                            : window->sizeHint().expandedTo(window->minimumSize());
    const QRect anchorFrame = anchor ? anchor->frameGeometry() : area;

    QRect target;
    if (window->testAttribute(Qt::WA_Moved)) {
        // Its own place: the frame it had, or the one it will have around its geometry.
        const QRect frame = FrameMargins(window).isNull()
                                ? QRect(window->geometry().topLeft(), inner).marginsAdded(margins)
                                : window->frameGeometry();
        target = BringOnto(frame, anchorFrame, area);
    } else {
        target =
            CentredOver(QRect(QPoint(0, 0), inner).marginsAdded(margins).size(), anchorFrame, area);
    }
    const QSize fitted = target.marginsRemoved(margins).size();
    if (fitted != inner) window->resize(fitted);
    window->move(target.topLeft());
    // A window hidden and shown again keeps its native window, which the widget
    // does not move while hidden: without its own request the desktop would
    // place it anew.
    if (QWindow* native = window->windowHandle(); native && !window->isVisible())
        native->setFramePosition(target.topLeft());
}

void FitSizeToScreen(QWidget* window) {
    QScreen* screen = window ? QGuiApplication::primaryScreen() : nullptr;
    if (!screen) return;
    const QRect area = screen->availableGeometry().marginsRemoved(LikelyFrameMargins());
    const QSize size = window->size();
    if (size.width() > area.width() || size.height() > area.height())
        window->resize(size.boundedTo(area.size()));
}
