#include "linux/config_file.h"

#include <algorithm>

namespace kelvane::svc {
namespace {

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

ConfigRead Refuse(int line, const std::string& why) {
    return ConfigRead{std::nullopt, "line " + std::to_string(line) + ": " + why};
}

}  // namespace

ConfigRead ReadConfig(std::string_view text, std::span<const std::string_view> known) {
    if (text.size() > kConfigMaxBytes)
        return ConfigRead{std::nullopt, "more than " + std::to_string(kConfigMaxBytes) + " bytes"};
    ConfigFile file;
    int number = 0;
    while (!text.empty()) {
        ++number;
        std::string_view line = text.substr(0, text.find('\n'));
        text.remove_prefix(std::min(text.size(), line.size() + 1));
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (std::any_of(line.begin(), line.end(),
                        [](char c) { return (c >= 0 && c < 0x20 && c != '\t') || c == 0x7F; }))
            return Refuse(number, "a control character");
        line = Trim(line);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') return Refuse(number, "sections such as " + std::string(line) + " are not supported");
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return Refuse(number, "'name = value' expected");
        const std::string_view name = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (name.empty()) return Refuse(number, "no name before '='");
        if (std::find(known.begin(), known.end(), name) == known.end())
            return Refuse(number, "unknown option '" + std::string(name) + "'");
        if (value.empty()) return Refuse(number, std::string(name) + " without a value");
        const auto [at, added] = file.options.try_emplace(std::string(name), ConfigValue{std::string(value), number});
        if (!added)
            return Refuse(number,
                          std::string(name) + " given again (first on line " + std::to_string(at->second.line) + ")");
    }
    return ConfigRead{std::move(file), {}};
}

}  // namespace kelvane::svc
