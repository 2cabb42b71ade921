// A damaged settings file whose name runs on for hundreds of megabytes: the
// load keeps a bounded name and the names after it where they belong. The
// bytes stream through a pipe, so neither the test nor the disk holds them.
// POSIX only: it needs a named pipe.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "settings/settings_file.h"

using namespace kelvane;
namespace fs = std::filesystem;

TEST(EndlessName, ThreeHundredMegabytesWithoutAZeroKeepABoundedName) {
    const fs::path pipe = fs::temp_directory_path() / ("kelvane-endless-" + std::to_string(::getpid()));
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    constexpr std::size_t kChunk = 1 << 20, kChunks = 300;
    std::thread writer([&] {
        std::FILE* out = std::fopen(pipe.c_str(), "wb");
        if (!out) return;
        const std::string fixed = SerializeSettings(SwitcherTables{}, BandTable{}).substr(0, kSettingsFixedBytes);
        const std::string chunk(kChunk, 'N');
        std::fwrite(fixed.data(), 1, fixed.size(), out);
        for (std::size_t k = 0; k < kChunks; ++k) std::fwrite(chunk.data(), 1, chunk.size(), out);
        std::fwrite("\0second\0", 1, 8, out);
        std::fclose(out);
    });
    SwitcherTables tables;
    BandTable bands;
    const bool loaded = LoadSettings(pipe.string(), tables, bands);
    writer.join();
    fs::remove(pipe);
    ASSERT_TRUE(loaded);
    // Sizes, not the strings: a failure must not print hundreds of megabytes.
    const std::string& name = tables.m_antName[0];
    EXPECT_EQ(name.size(), kMaxNameBytes);
    EXPECT_EQ(name.find_first_not_of('N'), std::string::npos);
    EXPECT_LE(name.capacity(), 2 * kMaxNameBytes) << "the name grew with the file";
    EXPECT_EQ(tables.m_antName[1], "second") << "the next name must start after the zero byte";
    EXPECT_EQ(tables.m_antName[2], "");
}
