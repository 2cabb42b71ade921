#pragma once
// Text that reaches JSON, the page or the log is UTF-8: a byte from a
// config, a rig's reply or a request that starts no character is shown as
// \xHH instead of breaking the JSON writer or the journal.

#include <string>
#include <string_view>

namespace kelvane::svc {

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF).
bool IsUtf8(std::string_view text);
// `text` with every byte outside a well-formed character written as \xHH.
std::string Utf8Text(std::string_view text);

}  // namespace kelvane::svc
