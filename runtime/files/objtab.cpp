// Placeholder until the object table lands.
#include "runtime/files/objtab.h"
