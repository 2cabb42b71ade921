#pragma once
// `kelvane settings ...`: shows or edits the settings file without a window,
// with the dialogs' rules. A refusal names the field and the rule, changes
// nothing and returns 2; a change is saved with the atomic save.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kelvane::svc {

// The rule a typed antenna or band name breaks, in the words every refusal
// uses (the settings command and the web console); nothing when it is fine.
std::optional<std::string> NameRule(const std::string& text);

int RunSettingsCommand(const std::string& path, const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err);

}  // namespace kelvane::svc
