// The program frame: starting and ending the runtime libraries around the conversion run.
#pragma once

// Starts the runtime libraries in this build's order.
void runtime_init();
// Ends the runtime libraries: every open file is written out and closed and every scan
// finished. Safe to run more than once; leaves the TempStringStack alone.
void runtime_end();
