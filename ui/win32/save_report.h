#pragma once
// What the program says, once the window is gone, when the settings file was
// not written at the end of a run: without it a session's configuration, or
// the reason the file was left alone, would go unnoticed.

#include <string>

namespace kelvane {

// A message box naming the settings file (made absolute) and the system's reason.
void ReportSaveFailure(const std::string& path, const std::string& reason);
// The same for a file that was there at start but could not be read, and so
// was not saved over at the end.
void ReportUnreadSettings(const std::string& path, const std::string& reason);

}  // namespace kelvane
