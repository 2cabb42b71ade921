#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "settings/file_io.h"

namespace fs = std::filesystem;
using kelvane::fileio::WriteFileAtomically;

namespace {

std::string Slurp(const fs::path& p) {
    if (!fs::is_regular_file(p)) return {};
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

// Whatever goes wrong, the file stays as it was and no temporary is left;
// what is there is replaced whole, a link in the way is never followed.
TEST(AtomicWrite, ReplacesWholeOrLeavesTheFileAsItWas) {
    const fs::path dir = fs::temp_directory_path() / ("kelvane-atomic-" + std::to_string(::getpid()));
    const mode_t umask = ::umask(0);
    ::umask(umask);
    const struct Case {
        const char* what;
        std::function<void(const fs::path& file)> before;
        int error;    // 0: written
        mode_t mode;  // the file's mode once written
        bool asRootOnlyPasses = false;
    } cases[] = {
        {"a new file", [](const fs::path& f) { fs::remove(f); }, 0, 0640 & ~umask},
        {"an existing file keeps its mode", [](const fs::path& f) { fs::permissions(f, fs::perms(0604)); }, 0, 0604},
        {"a link at the target is replaced",
         [](const fs::path& f) {
             fs::remove(f);
             fs::create_symlink("../victim", f);
         },
         0, 0640 & ~umask},
        {"a link at the old temporary is removed",
         [](const fs::path& f) { fs::create_symlink("../victim", f.string() + ".tmp"); }, 0, 0600},
        {"a missing directory", [](const fs::path& f) { fs::remove_all(f.parent_path()); }, ENOENT, 0},
        {"an unwritable directory", [](const fs::path& f) { fs::permissions(f.parent_path(), fs::perms(0500)); },
         EACCES, 0, true},
        {"a directory at the target",
         [](const fs::path& f) {
             fs::remove(f);
             fs::create_directories(f / "inside");
         },
         EISDIR, 0},
    };
    fs::remove_all(dir);  // a run killed midway leaves it, and process ids come round again
    for (const auto& c : cases) {
        if (c.asRootOnlyPasses && ::geteuid() == 0) continue;  // root writes anywhere
        const fs::path sub = dir / "sub", file = sub / "file";
        fs::create_directories(sub);
        std::ofstream(dir / "victim") << "victim";
        std::ofstream(file) << "old contents";
        fs::permissions(file, fs::perms(0600));
        c.before(file);
        const bool wasFile = fs::is_regular_file(fs::symlink_status(file));
        const auto entries = [&] { return fs::exists(sub) ? std::distance(fs::directory_iterator(sub), {}) : -1; };
        const auto entriesBefore = entries();
        std::string error;
        const bool ok = WriteFileAtomically(file.string(), "new", 0640, error);
        std::error_code gone;  // a missing directory stays missing
        fs::permissions(sub, fs::perms::owner_all, gone);
        EXPECT_EQ(ok, c.error == 0) << c.what;
        EXPECT_EQ(error, c.error ? std::strerror(c.error) : "") << c.what;
        EXPECT_EQ(Slurp(dir / "victim"), "victim") << c.what;
        EXPECT_EQ(Slurp(file), ok ? "new" : wasFile ? "old contents" : "") << c.what;
        EXPECT_EQ(entries(), ok ? 1 : entriesBefore) << c.what << ": a temporary is left";
        if (ok) {
            EXPECT_EQ(static_cast<mode_t>(fs::symlink_status(file).permissions()), c.mode) << c.what;
        }
        fs::remove_all(dir);
    }
}
