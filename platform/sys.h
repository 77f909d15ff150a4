// The few primitives that shared code needs from the operating system. platform/posix/ and
// platform/win32/ each define every one of them once, in files of the same names.
#pragma once

#include <cstddef>
#include <cstdint>

// --- Process (frame.cpp) -------------------------------------------------------------------

// POSIX: takes the locale of every category from the environment, numeric back to "C".
// Windows: nothing.
void sys_locale_init();
// Ends the process with the given status and never returns.
[[noreturn]] void sys_exit(int status);

// --- Memory (memory.cpp) ------------------------------------------------------------------

// The runtime heap behind mem_alloc: POSIX the C library's heap, Windows the main heap.
// sys_heap_start creates the Windows main heap (POSIX: nothing); sys_heap_stop destroys it.
void sys_heap_start();
void sys_heap_stop();
void* sys_heap_alloc(size_t bytes);                 // zero-filled; null when refused
void* sys_heap_realloc(void* block, size_t bytes);  // added bytes undefined; null when refused
void sys_heap_free(void* block);                    // null is ignored

// The string heap: the TempStringStack and every string variable's buffer.
// Windows: a private heap made by sys_string_heap_start and destroyed with all its blocks by
// sys_string_heap_stop. POSIX: the C library's heap, and start and stop do nothing.
void sys_string_heap_start();
void sys_string_heap_stop();
void* sys_string_alloc(size_t bytes);
void* sys_string_realloc(void* block, size_t bytes);
void sys_string_free(void* block);

// Byte strings and heap copies of texts: malloc and free of the C library on both sides.
void* sys_malloc(size_t bytes);
void sys_free(void* block);

// --- Command line (args.cpp) --------------------------------------------------------------

// POSIX: keeps the vector the system handed to main. Windows: nothing.
void sys_args_set(int argc, char** argv);
// Windows: the process command line (GetCommandLineW), read afresh. POSIX: null.
const char16_t* sys_command_line();
// POSIX: argument i of the vector (0 is the program), or null past the end. Windows: null.
const char* sys_arg(int32_t index);

// --- Text (text.cpp) ----------------------------------------------------------------------

// --- Files (files.cpp) --------------------------------------------------------------------

// --- Directories and file system (fs.cpp) -------------------------------------------------

// --- Console (console.cpp) ----------------------------------------------------------------
