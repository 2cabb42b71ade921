#pragma once
// Saves what a window shows on the screen as a PNG, for a person to look at.

#include <windows.h>

#include <string>

namespace kelvane::testing {

// Writes <screenshot dir>/<name>.png; returns the path, or "" when the
// capture or the file failed.
std::string SaveWindowPng(HWND hwnd, const std::string& name);

}  // namespace kelvane::testing
