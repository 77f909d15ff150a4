// The conversion run: every *.html page of the current folder copied to a .php page with its
// links rewritten.
#pragma once

// Runs once between runtime_init and runtime_end; returns on every path.
void run_conversion();
// Clears the run's variables (the Windows entry does this as its very first step).
void run_state_clear();
