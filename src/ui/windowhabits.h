#pragma once

#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

// Habits the windows beyond the main window share.
namespace WindowHabits {

// The largest share of the screen's available area a window takes at first: never all of it, so
// that its buttons stay within reach at any scale.
constexpr double MaxShare = 0.9;

// `wanted` fitted into `available`: no larger than MaxShare of it in either direction, and moved
// (not shrunk further) so that it lies wholly inside.
QRect Fit(const QRect& wanted, const QRect& available);

// Gives a top-level window its first place: `stored` (a geometry remembered before) when it is on
// a screen, else `size` centred on the parent's window or the primary screen; either way fitted
// into the available area of that screen.
void Place(QWidget* window, const std::optional<QRect>& stored, const QSize& size);

// Escape and Ctrl+W close the window.
void AddCloseKeys(QWidget* window);

} // namespace WindowHabits
