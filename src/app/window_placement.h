// Where the program's windows open: wholly on the screen that holds the main
// window, the small ones centred over it, and a remembered place that no longer
// fits that screen moved onto it. The rectangle rules are pure and take whole
// frames (title bar and borders included); the rest applies them to widgets.
#pragma once

#include <QMargins>
#include <QRect>

class QScreen;
class QWidget;

// `frame` moved (and, where it is larger than `area`, cut to it) so that it
// lies wholly inside `area`; unchanged when it already does.
QRect FitInside(const QRect& frame, const QRect& area);

// A frame of `size` centred over `anchor`, then fitted inside `area`.
QRect CentredOver(const QSize& size, const QRect& anchor, const QRect& area);

// A remembered frame brought onto `area`: kept when it lies inside, moved the
// shortest way in when it overlaps it, centred over `anchor` when it lies
// elsewhere (on a screen that is gone, say).
QRect BringOnto(const QRect& frame, const QRect& anchor, const QRect& area);

// The screen that holds most of `window`'s frame; the primary screen when it
// lies on none (or there is no window).
QScreen* ScreenHolding(const QWidget* window);

// Places `window`, a top-level window about to be shown, on the screen that
// holds `anchor` (the main window; none: the primary screen). A window with a
// place of its own (moved before, or shown before) keeps it as far as the
// screen allows; any other is centred over the anchor. Before a window has had
// a frame, its frame is taken to be as wide as the anchor's.
void PlaceWindow(QWidget* window, const QWidget* anchor);

// Cuts a window about to be shown for the first time to the primary screen's
// free area (its frame included); its place is left to the desktop.
void FitSizeToScreen(QWidget* window);
