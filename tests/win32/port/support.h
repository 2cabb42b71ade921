#pragma once
// Scratch directories and file helpers for the port tests, which work on real
// files and real LoadLibrary calls under Wine.

#include <windows.h>

#include <string>
#include <vector>

#include "win32/module.h"

namespace porttest {

// A fresh directory under the temp directory, removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }  // ends with '\'
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Where CMake put the fixture libraries, the probe and a copy of KorvPortDll.dll.
std::string FixtureDir();
// Copies a fixture under a new name; false when it is missing.
bool CopyFixture(const std::string& fixture, const std::string& to);

void WriteText(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
// The file's lines without their '\n'; empty when the file does not exist.
std::vector<std::string> ReadLines(const std::string& path);
std::vector<std::string> Fields(const std::string& line);  // split on blanks

}  // namespace porttest
