// The portable back end's declarations for xelo/com/TaskMemory.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Returns nullptr when out of memory. A size of 0 still gives a distinct,
// freeable block.
void* CoTaskMemAlloc(SIZE_T size);
// Null is ignored.
void CoTaskMemFree(void* block);
// Null block allocates; size 0 frees and returns nullptr; on failure the old
// block stays valid and nullptr is returned.
void* CoTaskMemRealloc(void* block, SIZE_T size);
