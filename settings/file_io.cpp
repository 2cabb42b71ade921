#include <cstdio>

#include "settings/file_io.h"

namespace kelvane::fileio {

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, unsigned modeForNewFile, std::string& error) {
    // Taken at the failing step, before the clean-up can overwrite it.
    const auto fail = [&] {
        error = LastErrorText();
        return false;
    };
    // Earlier versions wrote through this one name; a write of theirs cut
    // short may have left it, even marked read-only.
    RemoveStale(path + ".tmp");
    std::string temp;
    std::FILE* file = CreateTemporaryBeside(path, modeForNewFile, temp);
    if (!file) return fail();
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = FlushToDisk(file) && ok;
    if (!ok) fail();
    if (std::fclose(file) != 0 && ok) ok = fail();
    if (ok && !ReplaceWith(temp, path)) ok = fail();
    if (!ok) RemoveStale(temp);
    return ok;
}

}  // namespace kelvane::fileio
