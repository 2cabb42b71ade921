#pragma once
// The answer to a manual antenna pick, from the radio's loop to the web console.

namespace kelvane::svc {

// Made: the device confirmed it; held until the radio is back on receive or
// its transmit state is known (a pick turns Auto off either way); refused,
// nothing changed, as another radio holds it; pending: asked, not confirmed
// yet (the device is away, or the loop did not answer in time).
enum class Picked { kMade, kHeld, kTaken, kPending };

}  // namespace kelvane::svc
