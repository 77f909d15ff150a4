// The object table: a registry from object numbers to records of one type. Numbers 0 and up
// are chosen by the caller; OBJ_AUTO asks for a dynamic handle. A record is live while its
// first field, a pointer-sized native handle, is non-zero.
#pragma once

#include <cstdint>

constexpr intptr_t OBJ_AUTO = -1;

// Shuts the object under a number down; must end with objtab_free of that number.
using ObjCleanup = void (*)(intptr_t number);

struct ObjectTable;

// A new, empty table of `step` slots that grows by `step` beyond a requested number. Records
// of `record_size` bytes (at least pointer-sized) come zero-filled from the frame's memory
// layer. Null when memory is refused; every operation below takes a null table as an empty
// one that registers nothing. The table lives until the process ends.
ObjectTable* objtab_create(int32_t record_size, int32_t step, ObjCleanup cleanup);

// The record now registered under the number; null when memory is refused (nothing is then
// registered) or for a negative number other than OBJ_AUTO. For OBJ_AUTO a new zero record with a
// new handle. A slot that already holds a record is handed to the clean-up first, which leaves it
// zero; without a clean-up that record is returned as it is. The table owns the storage.
void* objtab_alloc(ObjectTable* table, intptr_t number);

// The handle of a record that objtab_alloc made for OBJ_AUTO: a value below -1, so never -1
// and never equal to an explicit number. 0 when the record is no dynamic record of the table.
intptr_t objtab_handle(const ObjectTable* table, const void* record);

// The numbered slots, which every table begins with, so that a number is looked up inline: the
// file library looks up its stream on every call.
struct ObjectSlots {
  intptr_t capacity;  // slots
  void** slots;       // capacity record references; null for an empty slot
};

// The live record under an issued handle, or null.
void* objtab_get_dynamic(ObjectTable* table, intptr_t handle);

// The live record under a number or an issued handle, or null. No other number reaches memory.
inline void* objtab_get(ObjectTable* table, intptr_t number) {
  if (!table) return nullptr;
  if (number < 0) return objtab_get_dynamic(table, number);
  const auto* numbered = reinterpret_cast<const ObjectSlots*>(table);
  if (number >= numbered->capacity) return nullptr;
  void* record = numbered->slots[number];
  // A record is live while its first field, the native handle, is non-zero.
  return record && *static_cast<const intptr_t*>(record) != 0 ? record : nullptr;
}

// Frees the object: a slot record is zeroed and kept for reuse; a dynamic record is released.
// Numbers that are neither are ignored.
void objtab_free(ObjectTable* table, intptr_t number);

// Cleans up every live object: numbers in ascending order, then dynamic records newest first.
// Does nothing without a clean-up. The table stays usable.
void objtab_free_all(ObjectTable* table);

// A typed view of a table, for owners that know their record type. Constant-initialised and
// empty until create() succeeds.
template <typename Record>
struct ObjTable {
  ObjectTable* table = nullptr;

  bool exists() const { return table != nullptr; }
  bool create(int32_t record_size, int32_t step, ObjCleanup cleanup) {
    table = objtab_create(record_size, step, cleanup);
    return table != nullptr;
  }
  Record* alloc(intptr_t number) { return static_cast<Record*>(objtab_alloc(table, number)); }
  Record* get(intptr_t number) const { return static_cast<Record*>(objtab_get(table, number)); }
  intptr_t handle(const Record* record) const { return objtab_handle(table, record); }
  void free(intptr_t number) { objtab_free(table, number); }
  void free_all() { objtab_free_all(table); }
};
