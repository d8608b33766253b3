#pragma once

namespace zennic {

// This process's id, as work files name their writer.
int CurrentProcessId();
// Whether a process with this id runs now, this user's or another's.
bool IsProcessRunning(int process_id);

}  // namespace zennic
