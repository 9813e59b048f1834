// The choice between the window and the console, and the loading of the window front end,
// a library of its own beside the program: the program itself links no Qt, so a server
// without a desktop needs none.
#pragma once

#include <cstdio>
#include <string>

namespace vandrel::shell {

// True when the window can be shown: the platforms QT_QPA_PLATFORM names leave Qt one it
// can start, or (unset) a Wayland or X display answers. Makes Qt use Wayland when only
// Wayland answers.
bool ChooseWindow();

// The window library's file name, looked for in the program folder.
inline constexpr const char* kWindowLibrary = "vandrelsql-window.so";
// The library's entry: runs the window until the program ends, returns the exit status.
inline constexpr const char* kWindowEntry = "vandrelsql_run_window";

using WindowEntry = int (*)();

// Loads the window library from `folder`. On failure (not installed, a library it needs is
// missing, not ours) writes one line on `err` that says why and that the update goes on in
// the terminal, and returns nullptr; never ends the process.
WindowEntry LoadWindow(const std::string& folder, FILE* err);

}  // namespace vandrel::shell
