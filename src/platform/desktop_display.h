#pragma once

#include <functional>
#include <string>

namespace zennic {

// The desktop toolkit on the display the program was started on. Its windows live on the
// thread that opened it (the main thread, which runs the toolkit's loop); other threads hand
// their work to that thread.

// Opens the display named by the environment. False with the reason when there is none or it
// cannot be opened: the program then runs without a desktop. Number formatting stays in the
// "C" locale whatever the toolkit sets, so files and replies keep "." as the decimal point.
bool OpenDesktopDisplay(std::string* reason);

// True from a successful open until CloseDesktopDisplay.
bool DesktopDisplayIsOpen();

// Runs `work` on the toolkit's thread at the loop's next turn. False, and `work` is dropped,
// when the display is not open.
bool PostToDesktopThread(std::function<void()> work);

// Called on the toolkit's thread by CloseDesktopDisplay, so whoever waits on a window learns
// that it will not be answered. Listeners are kept for the process.
void AddDesktopCloseListener(std::function<void()> listener);

// On the toolkit's thread: refuses further work and tells the close listeners. The toolkit
// itself stays initialised for the process; nothing runs its loop any more.
void CloseDesktopDisplay();

}  // namespace zennic
