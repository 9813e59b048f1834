// The window front end and the choice between it and the console.
#pragma once

namespace vandrel::shell {

// True when the window can be shown: QT_QPA_PLATFORM is set (Qt then decides), or a
// Wayland or X display answers. Makes Qt use Wayland when only Wayland answers.
bool ChooseWindow();

// Creates the application and the window, runs until the program ends and returns the
// exit status. Reads no command-line arguments. Returning from here lets the application
// object hand the clipboard to the desktop's clipboard manager.
int RunWindow();

}  // namespace vandrel::shell
