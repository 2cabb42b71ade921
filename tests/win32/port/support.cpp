#include "support.h"

#include <fstream>
#include <sstream>

#include "port/win32/port_driver.h"
#include "win32/module.h"

namespace porttest {
namespace {

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + name + "\\");
            else
                DeleteFileA((dir + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

ScratchDir::ScratchDir() {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        path_ = std::string(temp) + "kvport-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter) + "\\";
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

std::string FixtureDir() {
    // Found without GetProgramDir, which is under test.
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    return kelvane::DirectoryOf(std::string(exe, n)) + "fixtures\\";
}

bool CopyFixture(const std::string& fixture, const std::string& to) {
    return CopyFileA((FixtureDir() + fixture).c_str(), to.c_str(), FALSE) != 0;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; in >> f;) fields.push_back(f);
    return fields;
}

}  // namespace porttest
