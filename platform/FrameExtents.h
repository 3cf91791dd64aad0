// The frame a window manager has put around a top-level window, as the
// manager itself states it (_NET_FRAME_EXTENTS). Qt measures the frame from
// the window tree instead; measured while the manager is still sizing its
// frame, that figure stays wrong until the window is next configured.
#pragma once

#include <QMargins>
#include <functional>
#include <optional>

class QWidget;

namespace FrameExtents {

// Nothing when the manager has not said (no manager, one that does not
// tell, the window not framed yet) or the display is not X11.
std::optional<QMargins> of(const QWidget& window);

// Calls `stated` each time the manager states the frame of `window` anew,
// for as long as `window` exists. Off X11, never.
void watch(QWidget& window, std::function<void()> stated);

}
