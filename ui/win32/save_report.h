#pragma once
// The one word the program says when the settings could not be saved at the
// end of a run: without it a session's configuration would vanish unnoticed.

#include <string>

namespace kelvane {

// A message box naming the settings file (made absolute) and the system's reason.
void ReportSaveFailure(const std::string& path, const std::string& reason);

}  // namespace kelvane
