#pragma once
// Keeping a top-level window inside the screen it opens on, whatever the display scaling: at
// 200 % a 1280 × 720 screen offers 640 × 360 device-independent pixels (less the panels), less
// than the main window's usual minimum.

class QWidget;

namespace zelv {

// Shrinks `window` to the available area of its screen, lowering its minimum size where that is
// larger (its content then scrolls or is squeezed by its layout), and moves it so that the whole
// frame, title bar included, lies inside that area. Before the window manager has framed the
// window its frame is estimated from the style's title bar height.
void FitToScreen(QWidget* window);

}  // namespace zelv
