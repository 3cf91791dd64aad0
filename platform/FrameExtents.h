// The frame a window manager has put around a top-level window, as the
// manager itself states it (_NET_FRAME_EXTENTS). Qt measures the frame from
// the window tree instead; measured while the manager is still sizing its
// frame, that figure stays wrong until the window is next configured.
#pragma once

#include <QMargins>
#include <optional>

class QWidget;

namespace FrameExtents {

// Nothing when the manager has not said (no manager, one that does not
// tell, the window not framed yet) or the display is not X11.
std::optional<QMargins> of(const QWidget& window);

}
