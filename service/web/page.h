#pragma once
// The console's one page (linux/web/page.html), built into the program.

#include <string_view>

namespace kelvane::web {

extern const std::string_view kPage;

}  // namespace kelvane::web
