#pragma once

#include <string>

namespace zennic {

// Says why the program could not start or had to stop: in an error box captioned "Ruzerad" when
// a desktop can be opened, since a launcher's click that ends at once shows nothing else, and
// on standard error for a terminal and for the console, which has no desktop.
void ReportStartupFailure(const std::string& message);

}  // namespace zennic
