// The progress control of dialog 103, drawn by its owner: the filled bar and
// the percentage over it. Reached by the dialog procedure, and by a test
// program that draws the bar off screen.
#pragma once

#include <windows.h>

namespace lumo {

// Draws `item`'s bar at the percentage stored as the control's user data,
// over the background the control was erased to.
void draw_progress_bar(const DRAWITEMSTRUCT& item);

}  // namespace lumo
