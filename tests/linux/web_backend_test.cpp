// The service's side of a tables save: under the edit lock it re-reads the
// file and saves only over the bytes the page read, never over a damaged file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "service/station/console.h"
#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

std::string Bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

TEST(WebConsoleSave, SavesOnlyOverTheBytesThePageReadAndNeverOverDamage) {
    const std::string dir = ::testing::TempDir() + "kelvane-webbackend-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0755);
    Options o;
    o.settingsPath = dir + "/Kelvaneer12.ini";
    Log log([](int, const std::string&) {});
    WebConsole console(o, log);
    Station edited = DemoStation();
    ASSERT_TRUE(SaveSettings(o.settingsPath, edited.tables, edited.bands));
    edited.tables.m_antName[1] = "Vertical";
    const std::string damaged = Bytes(o.settingsPath).substr(0, kSettingsFixedBytes - 1);

    const struct {
        const char* what;
        std::string before;  // the file's bytes; empty: no file
        bool pageReadThem;
        web::WebBackend::Put result;
    } cases[] = {
        {"the file the page read", Bytes(o.settingsPath), true, web::WebBackend::Put::kSaved},
        {"a first save, no file yet", "", true, web::WebBackend::Put::kSaved},
        {"changed since the page read it", Bytes(o.settingsPath), false, web::WebBackend::Put::kStale},
        {"damaged", damaged, true, web::WebBackend::Put::kFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(o.settingsPath.c_str());
        if (!c.before.empty()) std::ofstream(o.settingsPath, std::ios::binary) << c.before;
        std::string etag, why;
        const auto result =
            console.WriteTables(edited, c.pageReadThem ? web::EtagOf(c.before) : web::EtagOf("other"), etag, why);
        EXPECT_EQ(result, c.result) << why;
        if (result != web::WebBackend::Put::kSaved) {
            EXPECT_EQ(Bytes(o.settingsPath), c.before);
            continue;
        }
        const std::string after = Bytes(o.settingsPath);
        EXPECT_EQ(after, SerializeSettings(edited.tables, edited.bands));
        EXPECT_EQ(etag, web::EtagOf(after));
    }
    std::remove(o.settingsPath.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace kelvane::svc::test
