// The window front end and the choice between it and the console.
#pragma once

namespace vandrel::shell {

// True when the window can be shown: the platforms QT_QPA_PLATFORM names leave Qt one it
// can start, or (unset) a Wayland or X display answers. Makes Qt use Wayland when only
// Wayland answers.
bool ChooseWindow();

// Creates the application and the window, runs until the program ends and returns the
// exit status. Reads no command-line arguments. The text left on the clipboard outlives the
// program: a clipboard manager takes it from the application object as it goes away, or
// else a serving process gets it.
int RunWindow();

}  // namespace vandrel::shell
