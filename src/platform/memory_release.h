#pragma once

namespace zennic {

// Keeps the allocator to a few arenas for the whole process. Left alone it gives threads up to
// eight arenas a core, and an arena keeps its free memory after its thread ends: the web
// server's request threads come and go, and their arenas alone would hold tens of MiB that no
// request uses any more. Call first thing, before any thread starts.
void LimitAllocatorArenas();

// Makes the allocator hand large blocks back to the system when they are freed, rather than
// keep them for reuse as it learns from earlier large blocks: a burst of large requests would
// otherwise stay resident for good. Affects the whole process; call once.
void ReturnLargeBlocksToSystem();

// Hands back memory the allocator keeps free, after work that took much of it for a moment.
void ReleaseFreeMemoryToSystem();

}  // namespace zennic
