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
// The most bytes of one name a load keeps. The name fields take 32767
// characters (an edit control's default limit), which in a double-byte code
// page is up to 65534 bytes, so whatever an operator typed survives whole;
// a damaged file's name without a zero byte can no longer fill the memory.
inline constexpr std::size_t kMaxNameBytes = 65536;

// Fills the tables from `path`. A missing or locked file leaves every default;
// a short file leaves the unread tail of each block at its value, and names
// past the end come out empty. A name is read to its zero byte but keeps only
// its first kMaxNameBytes. Returns whether the file could be read; on a
// read error nothing is changed.
bool LoadSettings(const std::string& path, SwitcherTables& tables, BandTable& bands);

// The same reading rules applied to bytes in memory.
void ParseSettings(std::string_view bytes, SwitcherTables& tables, BandTable& bands);

std::string SerializeSettings(const SwitcherTables& tables, const BandTable& bands);

// Writes a temporary file beside `path`, flushes it to disk and only then
// replaces `path` with it, so a failure at any point leaves the old file whole.
// A temporary left by an earlier interrupted save is replaced. Returns false
// on a handled failure (which leaves no temporary behind) and then, when
// `reason` is given, puts the system's words for the failure there.
bool SaveSettings(const std::string& path, const SwitcherTables& tables, const BandTable& bands,
                  std::string* reason = nullptr);

}  // namespace kelvane
