#pragma once
// The host radio program's automation object as the switcher reaches it, and
// as the simulated host serves it: its ProgID and the property it reads.

namespace kelvane {

inline constexpr wchar_t kHostProgId[] = L"Korvel2.Application";
inline constexpr char kHostProgIdText[] = "Korvel2.Application";
inline constexpr long kFrequencyDispId = 2;  // property get, hertz

}  // namespace kelvane
