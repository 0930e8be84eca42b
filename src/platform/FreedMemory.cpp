#include "platform/FreedMemory.h"

#include <malloc.h>

namespace {
// Above any block the relay reads or holds, below nothing a conversation needs at once.
constexpr int HeapBlockLimit = 32 * 1024 * 1024;
} // namespace

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
    ::mallopt(M_MMAP_THRESHOLD, HeapBlockLimit);
    ::mallopt(M_TRIM_THRESHOLD, 2 * HeapBlockLimit);
#endif
}

void ReturnFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
