#pragma once

// Gives the memory freed since the last call back to the system. The C library keeps freed
// memory for later allocations, so a burst of clients would leave the program as large as its
// peak for the rest of its life.
void ReturnFreedMemory();
