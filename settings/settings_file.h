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
inline constexpr std::size_t kMaxNameChars = 32767;

// What a load found. The tables are filled for kLoaded, kShort and kDamaged
// alike (the Windows program has always used whatever it could read); what to
// do with a damaged file is the caller's choice.
enum class SettingsState {
    kMissing,     // not there: the tables are left as they were
    kLoaded,      // every name up to its zero byte
    kShort,       // cut before the last name's zero byte: the rest by the early-end rule
    kDamaged,     // fewer than kSettingsFixedBytes, a name that is not printable text
                  // or longer than the dialogs allow, or a negative band edge
    kUnreadable,  // there, but it could not be opened or read: nothing was changed
};

struct SettingsLoad {
    SettingsState state = SettingsState::kMissing;
    // kUnreadable: the system's words; kDamaged: what is wrong; kShort: where it ends.
    std::string reason;
    // The tables came from the file (kLoaded, kShort, kDamaged).
    bool Read() const { return state != SettingsState::kMissing && state != SettingsState::kUnreadable; }
};

// Fills the tables from `path`. A short file leaves the unread tail of each
// block at its value, and names past the end come out empty. A name is read to
// its zero byte but keeps only its first kMaxNameBytes. On a read error
// nothing is changed.
SettingsLoad ReadSettingsFile(const std::string& path, SwitcherTables& tables, BandTable& bands);
// The same; true when the tables came from the file.
inline bool LoadSettings(const std::string& path, SwitcherTables& tables, BandTable& bands) {
    return ReadSettingsFile(path, tables, bands).Read();
}

// The same reading rules applied to bytes in memory (never kMissing or kUnreadable).
SettingsLoad ParseSettings(std::string_view bytes, SwitcherTables& tables, BandTable& bands);

// Why `name` would make a file damaged ("" when it would not): bytes that are
// not printable UTF-8 text, or more than the dialogs take.
std::string NameProblem(std::string_view name);
// `name` with every byte that is not printable text written as \xHH.
std::string EscapedName(std::string_view name);

std::string SerializeSettings(const SwitcherTables& tables, const BandTable& bands);

// Writes a temporary file of its own beside `path` (a new, unique name, so
// concurrent saves never share one and nothing planted there is followed),
// gives it the target's permissions where the system lets them be kept,
// flushes it to disk and only then replaces `path` with it: a failure at any
// point leaves the old file whole. A `<path>.tmp` left by an earlier version's
// interrupted save is removed. Returns false on a handled failure (which leaves
// no temporary behind) and then, when `reason` is given, puts the system's
// words for the failure there.
bool SaveSettings(const std::string& path, const SwitcherTables& tables, const BandTable& bands,
                  std::string* reason = nullptr);

}  // namespace kelvane
