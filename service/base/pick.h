#pragma once
// The answer to a manual antenna pick, from the radio's loop to the web console.

namespace kelvane::svc {

// Made at once; held until the radio is back on receive (a pick turns Auto
// off either way); refused, nothing changed, as another radio holds it.
enum class Picked { kMade, kHeld, kTaken };

}  // namespace kelvane::svc
