#pragma once

namespace zennic {

// Makes the allocator hand large blocks back to the system when they are freed, rather than
// keep them for reuse as it learns from earlier large blocks: a burst of large requests would
// otherwise stay resident for good. Affects the whole process; call once.
void ReturnLargeBlocksToSystem();

// Hands back memory the allocator keeps free, after work that took much of it for a moment.
void ReleaseFreeMemoryToSystem();

}  // namespace zennic
