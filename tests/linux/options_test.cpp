// The option table against the documents that list the options by hand: the
// man page and the packaged config.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "service/config/options.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

// The names in the tags (the line after each .TP) of the man page's OPTIONS.
std::set<std::string> ManPageOptions(const std::string& page) {
    const std::size_t from = page.find("\n.SH OPTIONS\n");
    if (from == std::string::npos) return {};
    std::istringstream section(page.substr(from, page.find("\n.SH ", from + 1) - from));
    static const std::regex option(R"((^|[^a-z\-])(--?[a-z][a-z-]*))");
    std::set<std::string> names;
    bool tag = false;
    for (std::string line; std::getline(section, line); tag = line == ".TP") {
        if (!tag) continue;
        const std::string plain = std::regex_replace(line, std::regex(R"(\\-)"), "-");
        for (std::sregex_iterator m(plain.begin(), plain.end(), option), end; m != end; ++m) names.insert((*m)[2]);
    }
    return names;
}

// The options the packaged config sets or shows commented out, before its first section.
std::set<std::string> PackagedConfigNames(const std::string& text) {
    static const std::regex option(R"(^#?([a-z][a-z-]*) = )");
    std::istringstream in(text);
    std::set<std::string> names;
    std::smatch m;
    for (std::string line; std::getline(in, line) && line.rfind("[", 0) != 0 && line.rfind("#[", 0) != 0;)
        if (std::regex_search(line, m, option)) names.insert(m[1]);
    return names;
}

TEST(OptionTable, ManPageAndPackagedConfigNameEveryOptionAndNoOther) {
    std::set<std::string> commandLine, configFile;
    for (const OptionSpec& o : OptionTable()) {
        commandLine.insert(std::string(o.longName));
        if (!o.shortName.empty()) commandLine.insert(std::string(o.shortName));
        if (!o.configName.empty()) configFile.insert(std::string(o.configName));
    }
    const struct {
        const char* file;
        std::set<std::string> (*names)(const std::string&);
        const std::set<std::string>& want;
    } documents[] = {{"/packaging/linux/kelvane.1", ManPageOptions, commandLine},
                     {"/packaging/linux/kelvane.conf", PackagedConfigNames, configFile}};
    for (const auto& d : documents)
        EXPECT_EQ(d.names(Slurp(std::string(KELVANE_SOURCE_DIR) + d.file)), d.want) << d.file;
}

}  // namespace
}  // namespace kelvane::svc::test
