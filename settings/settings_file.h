#pragma once
// The binary settings file: five blocks of little-endian int32 (band antennas,
// band low edges, band high edges, port address, antenna values) and then twenty
// zero-terminated names (antennas, then bands). No header, no count, no checksum.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/tables.h"

namespace kelvane {

inline constexpr char kSettingsFileName[] = "Kelvaneer12.ini";
inline constexpr std::size_t kSettingsFixedBytes = 164;

// Fills the tables from `path`. A missing or locked file leaves every default;
// a short file leaves the unread tail of each block at its value, and names
// past the end come out empty. Returns whether the file could be read; on a
// read error nothing is changed.
bool LoadSettings(const std::string& path, SwitcherTables& tables, BandTable& bands);

// The same reading rules applied to bytes in memory.
void ParseSettings(std::string_view bytes, SwitcherTables& tables, BandTable& bands);

std::string SerializeSettings(const SwitcherTables& tables, const BandTable& bands);

// Writes a temporary file beside `path`, flushes it to disk and only then
// replaces `path` with it, so a failure at any point leaves the old file whole.
// Returns false on a handled failure (which leaves no temporary behind).
bool SaveSettings(const std::string& path, const SwitcherTables& tables, const BandTable& bands);

}  // namespace kelvane
