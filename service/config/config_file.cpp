#include "service/config/config_file.h"

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

ConfigRead ReadConfig(std::string_view text, std::span<const std::string_view> known,
                      std::span<const ConfigSectionKind> sections) {
    if (text.size() > kConfigMaxBytes)
        return ConfigRead{std::nullopt, "more than " + std::to_string(kConfigMaxBytes) + " bytes"};
    ConfigFile file;
    ConfigOptions* into = &file.options;
    std::span<const std::string_view> names = known;
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
        if (line.front() == '[') {
            std::string_view inner = line.back() == ']' ? Trim(line.substr(1, line.size() - 2)) : std::string_view{};
            const std::string_view kind = inner.substr(0, inner.find_first_of(" \t"));
            const std::string_view name = Trim(inner.substr(kind.size()));
            const auto taken = std::find_if(sections.begin(), sections.end(),
                                            [&](const ConfigSectionKind& k) { return k.kind == kind; });
            if (taken == sections.end() || name.empty() || kind.empty()) {
                std::string forms;
                for (const auto& k : sections) forms += (forms.empty() ? "" : " or ") + std::string(k.form);
                return Refuse(number, std::string(line) + " is not a section" +
                                          (forms.empty() ? std::string(" taken here") : ": expected " + forms));
            }
            for (const auto& before : file.sections)
                if (before.kind == kind && before.name == name)
                    return Refuse(number, "[" + before.kind + " " + before.name + "] given again (first on line " +
                                              std::to_string(before.line) + ")");
            file.sections.push_back(ConfigSection{std::string(kind), std::string(name), number, {}});
            into = &file.sections.back().options;
            names = taken->known;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return Refuse(number, "'name = value' expected");
        const std::string_view name = Trim(line.substr(0, equals));
        const std::string_view value = Trim(line.substr(equals + 1));
        if (name.empty()) return Refuse(number, "no name before '='");
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            if (file.sections.empty()) return Refuse(number, "unknown option '" + std::string(name) + "'");
            const ConfigSection& in = file.sections.back();
            // INI's rule: a line belongs to the section above it, however it was meant.
            const bool topLevel = std::find(known.begin(), known.end(), name) != known.end();
            return Refuse(number, "'" + std::string(name) + "' is not taken in [" + in.kind + " " + in.name + "]" +
                                      (topLevel ? " (options for the whole file go before the first section)" : ""));
        }
        if (value.empty()) return Refuse(number, std::string(name) + " without a value");
        const auto [at, added] = into->try_emplace(std::string(name), ConfigValue{std::string(value), number});
        if (!added)
            return Refuse(number,
                          std::string(name) + " given again (first on line " + std::to_string(at->second.line) + ")");
    }
    return ConfigRead{std::move(file), {}};
}

}  // namespace kelvane::svc
