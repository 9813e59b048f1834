// Whether a display answers, asked before the application object exists (Qt aborts the
// process when it finds none). Waits at most kDisplayProbeSeconds per display, never aborts.
#pragma once

namespace vandrel::shell {

// How long a display may take to answer the probe before it counts as none.
inline constexpr int kDisplayProbeSeconds = 3;

// $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY (or an absolute $WAYLAND_DISPLAY) accepts a connection
// and answers on it within kDisplayProbeSeconds.
// With `unset_means` given, an unset WAYLAND_DISPLAY stands for that name, as it does for
// the Wayland client library.
bool WaylandAnswers(const char* unset_means = nullptr);
// xcb_connect reaches $DISPLAY within kDisplayProbeSeconds; unset or empty counts as no
// display.
bool XAnswers();

// Whether the platforms listed in a QT_QPA_PLATFORM value ("wayland", "xcb;wayland",
// "xcb:display=:1") leave Qt one that it can start: a Wayland or X display that answers,
// or any other platform, which is Qt's to decide.
bool NamedPlatformAnswers(const char* qt_qpa_platform);

}  // namespace vandrel::shell
