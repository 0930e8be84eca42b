#pragma once

// Large blocks (the pieces of a long reply, held for the log until the reply has gone on) come
// from the heap and stay there once freed, for the next reply, instead of going back to the
// system with every free and being faulted in afresh: a reply of a few MB would otherwise cost
// more in page faults than its log costs to format. ReturnFreedMemory hands them back.
void KeepFreedMemoryForReuse();

// Gives the memory freed since the last call back to the system. The C library keeps freed
// memory for later allocations, so a burst of clients would leave the program as large as its
// peak for the rest of its life.
void ReturnFreedMemory();
