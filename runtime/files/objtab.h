// The object table: a registry from object numbers to records of one type. Numbers 0 and up
// are chosen by the caller; OBJ_AUTO asks for a dynamic handle. A record is live while its
// first field, a pointer-sized native handle, is non-zero.
#pragma once

#include <cstdint>

constexpr intptr_t OBJ_AUTO = -1;

// Shuts the object under a number down; must end with objtab_free of that number.
using ObjCleanup = void (*)(intptr_t number);

struct ObjectTable;

// A new, empty table of `step` slots that grows by `step` beyond a requested number.
// Records of `record_size` bytes come zero-filled from the frame's memory layer.
ObjectTable* objtab_create(int32_t record_size, int32_t step, ObjCleanup cleanup);

// The record now registered under the number, all zero; null on failure or for a negative
// number other than OBJ_AUTO. A slot that already holds a record is cleaned up first.
void* objtab_alloc(ObjectTable* table, intptr_t number);

// The handle of a record that objtab_alloc made for OBJ_AUTO; never -1 and never equal to an
// explicit number.
intptr_t objtab_handle(const ObjectTable* table, const void* record);

// The live record under a number or an issued handle, or null. No other number reaches memory.
void* objtab_get(ObjectTable* table, intptr_t number);

// Frees the object: a slot record is zeroed and kept for reuse; a dynamic record is released.
// Numbers that are neither are ignored.
void objtab_free(ObjectTable* table, intptr_t number);

// Cleans up every live object: numbers in ascending order, then dynamic records newest first.
// Does nothing without a clean-up.
void objtab_free_all(ObjectTable* table);
