// The process around the run: standard descriptors that are surely open, and the signals
// that stop a run (SIGINT, SIGTERM, SIGHUP).
#pragma once

namespace vandrel::shell {

// Call first in main, before any thread starts. Opens /dev/null on any of descriptors 0-2
// that is closed, so that no database socket takes one and console texts never go into it.
// Blocks the three signals in every thread and waits for them in a thread of its own: the
// statement in progress is cancelled on the engine, the run ends rolling back, the console
// says "Actualización interrumpida" and the exit status is 128 + the signal. With no
// connection open the program ends at once; a run that has not ended kGraceSeconds after the
// signal is ended then (the engines roll back what a closed session left open).
// Throws Error when that thread cannot start (no room for its stack).
void PrepareProcess();

inline constexpr int kGraceSeconds = 10;
inline constexpr const char* kInterrumpida = "Actualización interrumpida";

}  // namespace vandrel::shell
