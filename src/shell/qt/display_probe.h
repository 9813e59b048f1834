// Whether a display answers, asked before the application object exists (Qt aborts the
// process when it finds none). Never blocks for long and never aborts.
#pragma once

namespace vandrel::shell {

// $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY (or an absolute $WAYLAND_DISPLAY) accepts a connection.
bool WaylandAnswers();
// xcb_connect reaches $DISPLAY; unset or empty counts as no display.
bool XAnswers();

}  // namespace vandrel::shell
