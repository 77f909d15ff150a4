// The object table: a registry from object numbers to records of one type.
#pragma once

#include <cstdint>
