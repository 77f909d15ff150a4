// The program frame: starting and ending the runtime libraries around the conversion run.
#pragma once

// Starts the runtime libraries.
void runtime_init();
// Ends the runtime libraries: every open file is written out and closed and every scan
// finished. Safe to run more than once; leaves the TempStringStack alone.
void runtime_end();

// The Windows console close handler runs on a thread of the system while the run may be in the
// middle of a page. The main thread holds the runtime from start to end; the handler asks for
// it and ends the libraries once the main thread has stopped at a checkpoint between two steps,
// so no file is closed while it is in use and the lines written so far reach the files.
// POSIX has no such thread, and these cost one load.

// Main thread, at start: the runtime is in use until the process ends.
void runtime_hold();
// Main thread, between steps that touch files or scans: waits here for good when the console
// is being closed.
void runtime_checkpoint();
// Close handler: stops the main thread at its next checkpoint and ends the libraries.
void runtime_end_on_close();
