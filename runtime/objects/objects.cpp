// The object table: numbered slots that keep their storage, and dynamic records under issued
// handles in a doubly linked list, newest first.
#include "runtime/objects/objects.h"

#include <cstddef>
#include <cstring>

#include "runtime/memory/memory.h"

namespace {

// The header ahead of the owner's fields in a dynamic record.
struct DynamicLink {
  DynamicLink* older;  // next older record, null at the tail
  DynamicLink* newer;  // next newer record, null at the head
  intptr_t handle;     // below -1, unique for the table's lifetime
};
static_assert(sizeof(DynamicLink) % alignof(intptr_t) == 0, "owner's fields stay aligned");

constexpr intptr_t FIRST_HANDLE = -2;

}  // namespace

struct ObjectTable {
  ObjectSlots numbered;  // first, for objtab_get
  int32_t record_size;   // bytes of one owner's record, at least pointer-sized
  int32_t step;          // spare slots beyond a requested number; also the first capacity
  DynamicLink* newest;   // head of the dynamic list, null when empty
  ObjCleanup cleanup;    // may be null
  intptr_t cursor;       // next slot that objtab_free_all looks at
  intptr_t next_handle;  // handle for the next dynamic record; counts down from -2
};
static_assert(offsetof(ObjectTable, numbered) == 0, "objtab_get reads the slots first");

namespace {

void* body_of(DynamicLink* link) { return link + 1; }

bool is_live(const void* record) {
  intptr_t first;
  memcpy(&first, record, sizeof first);
  return first != 0;
}

// Handles are only ever compared, never turned into addresses, so an unknown number cannot
// reach memory.
DynamicLink* find_dynamic(const ObjectTable* table, intptr_t handle) {
  if (handle >= OBJ_AUTO) return nullptr;
  for (DynamicLink* link = table->newest; link; link = link->older) {
    if (link->handle == handle) return link;
  }
  return nullptr;
}

void* alloc_dynamic(ObjectTable* table) {
  if (table->next_handle == INTPTR_MIN) return nullptr;
  auto* link = static_cast<DynamicLink*>(mem_alloc(sizeof(DynamicLink) + table->record_size));
  if (!link) return nullptr;
  link->handle = table->next_handle--;
  link->older = table->newest;
  if (table->newest) table->newest->newer = link;
  table->newest = link;
  return body_of(link);
}

// Grows the slot array to number + step slots; the new slots are empty.
bool grow_slots(ObjectTable* table, intptr_t number) {
  if (number > INTPTR_MAX - table->step) return false;
  intptr_t capacity = number + table->step;
  if (static_cast<uintptr_t>(capacity) > SIZE_MAX / sizeof(void*)) return false;
  void* grown = mem_grow(table->numbered.slots, static_cast<size_t>(capacity) * sizeof(void*));
  if (!grown) return false;
  table->numbered.slots = static_cast<void**>(grown);
  table->numbered.capacity = capacity;
  return true;
}

}  // namespace

ObjectTable* objtab_create(int32_t record_size, int32_t step, ObjCleanup cleanup) {
  auto* table = static_cast<ObjectTable*>(mem_alloc(sizeof(ObjectTable)));
  if (!table) return nullptr;
  constexpr int32_t MIN_RECORD = sizeof(intptr_t);
  table->record_size = record_size < MIN_RECORD ? MIN_RECORD : record_size;
  table->step = step < 1 ? 1 : step;
  table->cleanup = cleanup;
  table->numbered.slots =
      static_cast<void**>(mem_alloc(static_cast<size_t>(table->step) * sizeof(void*)));
  if (!table->numbered.slots) {
    mem_free(table);
    return nullptr;
  }
  table->numbered.capacity = table->step;
  table->next_handle = FIRST_HANDLE;
  return table;
}

void* objtab_alloc(ObjectTable* table, intptr_t number) {
  if (!table) return nullptr;
  if (number == OBJ_AUTO) return alloc_dynamic(table);
  if (number < 0) return nullptr;
  if (number >= table->numbered.capacity && !grow_slots(table, number)) return nullptr;
  if (table->numbered.slots[number]) {
    // An object still open under the number is shut down before the number is reused.
    if (table->cleanup) table->cleanup(number);
    return table->numbered.slots[number];
  }
  void* record = mem_alloc(static_cast<size_t>(table->record_size));
  table->numbered.slots[number] = record;
  return record;
}

intptr_t objtab_handle(const ObjectTable* table, const void* record) {
  if (!table || !record) return 0;
  for (DynamicLink* link = table->newest; link; link = link->older) {
    if (body_of(link) == record) return link->handle;
  }
  return 0;
}

void* objtab_get_dynamic(ObjectTable* table, intptr_t handle) {
  DynamicLink* link = find_dynamic(table, handle);
  return link && is_live(body_of(link)) ? body_of(link) : nullptr;
}

void objtab_free(ObjectTable* table, intptr_t number) {
  if (!table) return;
  if (number >= 0 && number < table->numbered.capacity) {
    if (table->numbered.slots[number])
      memset(table->numbered.slots[number], 0, static_cast<size_t>(table->record_size));
    return;
  }
  DynamicLink* link = find_dynamic(table, number);
  if (!link) return;
  if (link->older) link->older->newer = link->newer;
  if (link->newer) {
    link->newer->older = link->older;
  } else {
    table->newest = link->older;
  }
  mem_free(link);
}

void objtab_free_all(ObjectTable* table) {
  if (!table || !table->cleanup) return;
  // The cursor lives in the table and the capacity is re-read after every clean-up, so a
  // clean-up that frees other objects or grows the slot array keeps the walk on track.
  for (table->cursor = 0; table->cursor < table->numbered.capacity;) {
    intptr_t number = table->cursor++;
    void* record = table->numbered.slots[number];
    if (record && is_live(record)) table->cleanup(number);
  }
  while (table->newest) {
    intptr_t handle = table->newest->handle;
    table->cleanup(handle);
    // A clean-up that left its record registered would keep the walk going for ever.
    if (table->newest && table->newest->handle == handle) objtab_free(table, handle);
  }
}
