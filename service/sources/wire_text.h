#pragma once
// What every source reads from its command-line spec and from the wire,
// strictly: an endpoint, an unsigned decimal number, and a printable excerpt of
// bytes that were refused.

#include <cstddef>
#include <string>
#include <string_view>

#include "service/base/digits.h"
#include "service/base/endpoint.h"

namespace kelvane::svc {

// The start of `text` with every byte outside printable ASCII as \xNN.
std::string Printable(std::string_view text, std::size_t limit = 40);

}  // namespace kelvane::svc
