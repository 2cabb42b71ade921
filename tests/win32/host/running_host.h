#pragma once
// The running host object as a test reaches it: looked up and attached the
// way the switcher attaches, outside the link under test.

struct IDispatch;

namespace kelvane::testing {

// The running host's IDispatch (the caller owns the reference), or null.
IDispatch* RunningHost();
// Property 3 of the running host: how many frequency reads it has answered;
// -1 when no host runs or it does not answer.
double HostReadCount();

}  // namespace kelvane::testing
