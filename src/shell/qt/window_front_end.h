// The window front end, built as a library of its own that the program loads at run time.
#pragma once

namespace vandrel::shell {

// Creates the application and the window, runs until the program ends and returns the
// exit status. Reads no command-line arguments. The text left on the clipboard outlives the
// program: a clipboard manager takes it from the application object as it goes away, or
// else a serving process gets it.
int RunWindow();

}  // namespace vandrel::shell

extern "C" int vandrelsql_run_window();
