#include "service/config/settings_cmd.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>

#include "core/ctext.h"
#include "service/base/platform.h"
#include "service/station/output.h"
#include "service/config/station_file.h"
#include "settings/edit_lock.h"
#include "settings/file_io.h"
#include "settings/settings_file.h"

namespace kelvane::svc {
namespace {

constexpr int kRefused = 2, kFailed = 1;

struct Refusal {
    std::string message;
};

// A band or an antenna: its number from 1, or its name when only one entry has it.
template <std::size_t N>
int Select(const char* what, const std::string& text, const std::array<std::string, N>& names) {
    std::uint32_t number = 0;
    if (ParseUnsignedField(text, number)) {
        if (number >= 1 && number <= N) return static_cast<int>(number - 1);
        throw Refusal{std::string(what) + " " + text + " refused: " + what + "s count from 1 to " + std::to_string(N)};
    }
    int found = -1, count = 0;
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == text) {
            found = static_cast<int>(i);
            ++count;
        }
    if (count == 1) return found;
    if (count > 1)
        throw Refusal{std::string(what) + " \"" + text + "\" refused: " + std::to_string(count) + " " + what +
                      "s have that name; give its number"};
    throw Refusal{std::string(what) + " \"" + text + "\" refused: not a number from 1 to " + std::to_string(N) +
                  " nor the name of any " + what};
}

std::string CheckName(const std::string& field, const std::string& text) {
    if (const auto rule = NameRule(text)) throw Refusal{field + " refused: " + *rule};
    return text;
}

// Bands whose ranges share a frequency with band `n`: the later one wins there.
void NoteOverlaps(const BandTable& b, std::size_t n, std::ostream& err) {
    if (b.low[n] > b.high[n]) return;
    for (std::size_t j = 0; j < static_cast<std::size_t>(kBandCount); ++j) {
        if (j == n || b.low[j] > b.high[j] || b.high[j] < b.low[n] || b.low[j] > b.high[n]) continue;
        err << "kelvane: note: band " << n + 1 << " overlaps band " << j + 1 << " (" << EscapedName(b.name[j]) << ", "
            << b.low[j] << " to " << b.high[j] << " kHz): where they overlap, band " << std::max(n, j) + 1 << " wins\n";
    }
}

// --opt VALUE pairs after the selector; each option at most once.
std::map<std::string, std::string> Options(const std::vector<std::string>& args, std::size_t from,
                                           const std::vector<std::string>& allowed, const std::string& command) {
    std::map<std::string, std::string> out;
    for (std::size_t i = from; i < args.size(); i += 2) {
        bool known = false;
        for (const auto& a : allowed) known = known || args[i] == a;
        std::string list;
        for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
        if (!known) throw Refusal{"settings " + command + ": unknown option \"" + args[i] + "\" (" + list + ")"};
        if (i + 1 >= args.size()) throw Refusal{"settings " + command + ": " + args[i] + " needs a value"};
        if (!out.emplace(args[i], args[i + 1]).second)
            throw Refusal{"settings " + command + ": " + args[i] + " is given twice"};
    }
    if (out.empty()) {
        std::string list;
        for (const auto& a : allowed) list += (list.empty() ? "" : " or ") + a;
        throw Refusal{"settings " + command + ": nothing to change; give " + list};
    }
    return out;
}

void Show(const std::string& path, bool exists, const Station& s, std::ostream& out) {
    out << "Settings: " << path << (exists ? "" : " (not there yet: the first-start defaults)") << "\n\nBands:\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %2s  %-16s %11s %11s  %s\n", "#", "name", "low kHz", "high kHz", "antenna");
    out << line;
    for (int b = 0; b < kBandCount; ++b) {
        const auto i = static_cast<std::size_t>(b);
        const std::int32_t a = s.tables.m_bandAntenna[i];
        const std::string antenna = IsAntennaIndex(a) ? std::to_string(a + 1) + " " +
                                                            EscapedName(s.tables.m_antName[static_cast<std::size_t>(a)])
                                                      : "(none: index " + std::to_string(a) + " in the file)";
        std::snprintf(line, sizeof line, "  %2d  %-16s %11d %11d  %s%s\n", b + 1, EscapedName(s.bands.name[i]).c_str(),
                      s.bands.low[i], s.bands.high[i], antenna.c_str(),
                      s.bands.low[i] > s.bands.high[i] ? "  (low above high: never matches)" : "");
        out << line;
    }
    out << "\nAntennas:\n";
    std::snprintf(line, sizeof line, "  %2s  %-24s %s\n", "#", "name", "value (byte on the output)");
    out << line;
    for (std::size_t a = 0; a < static_cast<std::size_t>(kAntennaCount); ++a) {
        std::snprintf(line, sizeof line, "  %2zu  %-24s %u (%s)\n", a + 1, EscapedName(s.tables.m_antName[a]).c_str(),
                      s.tables.m_antValue[a], HexByte(static_cast<std::uint8_t>(s.tables.m_antValue[a])).c_str());
        out << line;
    }
    out << "\nPort address (Windows program): " << s.tables.m_portAddr << " (0x" << FormatHex03(s.tables.m_portAddr)
        << ")\n";
}

// mkdir -p of the file's directory, so a first save under ~/.config works.
bool MakeParents(const std::string& path, std::string& reason) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (std::string why; !MakeFolder(dir, why)) {
            reason = dir + ": " + why;
            return false;
        }
    }
    return true;
}

void EditAntenna(const std::vector<std::string>& args, Station& s, std::ostream& out, std::ostream& err) {
    auto& t = s.tables;
    if (args.size() < 2) throw Refusal{"settings antenna: which antenna? (1-10 or its name)"};
    const int a = Select("antenna", args[1], t.m_antName);
    const auto i = static_cast<std::size_t>(a);
    const std::string field = "antenna " + std::to_string(a + 1);
    auto opts = Options(args, 2, {"--name", "--value"}, "antenna");
    std::string name = t.m_antName[i];
    std::uint32_t value = t.m_antValue[i];
    if (opts.count("--name")) name = CheckName(field + " name", opts["--name"]);
    if (opts.count("--value") && !ParseUnsignedField(opts["--value"], value))
        throw Refusal{field + " value \"" + opts["--value"] +
                      "\" refused: Please enter a positive integer. (a whole number from 0 to 4294967295)"};
    t.m_antName[i] = name;
    t.m_antValue[i] = value;
    out << field << ": " << EscapedName(name) << ", value " << value << " ("
        << HexByte(static_cast<std::uint8_t>(value)) << ")\n";
    if (value > 0xFF)
        err << "kelvane: note: only the low byte, " << HexByte(static_cast<std::uint8_t>(value))
            << ", reaches the output\n";
}

void EditBand(const std::vector<std::string>& args, Station& s, std::ostream& out, std::ostream& err) {
    auto& b = s.bands;
    if (args.size() < 2) throw Refusal{"settings band: which band? (1-10 or its name)"};
    const int n = Select("band", args[1], b.name);
    const auto i = static_cast<std::size_t>(n);
    const std::string field = "band " + std::to_string(n + 1);
    auto opts = Options(args, 2, {"--name", "--low", "--high"}, "band");
    std::string name = b.name[i];
    std::int32_t low = b.low[i], high = b.high[i];
    if (opts.count("--name")) name = CheckName(field + " name", opts["--name"]);
    for (const char* edge : {"--low", "--high"}) {
        if (!opts.count(edge)) continue;
        std::int32_t& v = edge[2] == 'l' ? low : high;
        if (!ParseSignedField(opts[edge], v))
            throw Refusal{field + " " + (edge + 2) + " edge \"" + opts[edge] +
                          "\" refused: Please enter an integer. (whole kHz from 0 to 2147483647)"};
        // The Windows dialog takes it, but the service would find the file damaged.
        if (v < 0)
            throw Refusal{field + " " + (edge + 2) + " edge \"" + opts[edge] +
                          "\" refused: a band edge is from 0 to 2147483647 kHz"};
    }
    b.name[i] = name;
    b.low[i] = low;
    b.high[i] = high;
    out << field << ": " << EscapedName(name) << ", " << low << " to " << high << " kHz\n";
    if (low > high) err << "kelvane: note: " << field << "'s low edge is above its high edge: it never matches\n";
    NoteOverlaps(b, i, err);
}

void Assign(const std::vector<std::string>& args, Station& s, std::ostream& out) {
    auto& t = s.tables;
    auto& b = s.bands;
    if (args.size() != 3) throw Refusal{"settings assign: expected BAND ANTENNA (numbers from 1, or names)"};
    const int n = Select("band", args[1], b.name);
    const int a = Select("antenna", args[2], t.m_antName);
    t.m_bandAntenna[static_cast<std::size_t>(n)] = a;
    out << "band " << n + 1 << " (" << EscapedName(b.name[static_cast<std::size_t>(n)]) << ") -> antenna " << a + 1
        << " (" << EscapedName(t.m_antName[static_cast<std::size_t>(a)]) << ")\n";
}

void Edit(const std::vector<std::string>& args, Station& s, std::ostream& out, std::ostream& err) {
    const std::string& command = args[0];
    if (command == "antenna")
        EditAntenna(args, s, out, err);
    else if (command == "band")
        EditBand(args, s, out, err);
    else if (command == "assign")
        Assign(args, s, out);
    else
        throw Refusal{"settings: unknown command \"" + command + "\" (show, antenna, band or assign)"};
}

int ShowSettings(const std::string& path, const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) {
        err << "kelvane: settings show takes nothing more\n";
        return kRefused;
    }
    Station station;
    const SettingsLoad load = LoadStation(path, station);
    if (load.state == SettingsState::kUnreadable) {
        err << "kelvane: " << Describe(path, load) << "\n";
        return kFailed;
    }
    if (load.state == SettingsState::kShort || load.state == SettingsState::kDamaged)
        err << "kelvane: warning: " << Describe(path, load) << "\n";
    Show(path, load.state != SettingsState::kMissing, station, out);
    return 0;
}

// Read, edit and save under the lock.
int EditLocked(const std::string& path, const std::vector<std::string>& args, Station& station, std::ostream& out,
               std::ostream& err) {
    // From the read to the save, so that an edit made meanwhile is not lost.
    const SettingsEditLock lock(path);
    if (!lock.Held()) {
        err << "kelvane: cannot lock " << path << " for the edit: " << lock.Reason() << "; the file is unchanged\n";
        return kFailed;
    }
    const SettingsLoad load = LoadStation(path, station);
    if (load.state == SettingsState::kUnreadable) {
        err << "kelvane: " << Describe(path, load) << "\n";
        return kFailed;
    }
    // An edit would save the damage with it, and the service refuses such a file.
    if (load.state == SettingsState::kDamaged) {
        err << "kelvane: " << Describe(path, load) << "; edits are refused until it is mended or removed (settings "
            << "show lists what it holds); the file is unchanged\n";
        return kFailed;
    }
    std::ostringstream said, notes;
    try {
        Edit(args, station, said, notes);
    } catch (const Refusal& r) {
        err << "kelvane: " << r.message << "; " << path << " is unchanged\n";
        return kRefused;
    }
    if (load.state == SettingsState::kShort)
        err << "kelvane: warning: " << Describe(path, load) << "; the save writes every name\n";
    // The save replaces the file only as its last step, which either happens whole or not at all.
    std::string reason;
    if (!SaveSettings(path, station.tables, station.bands, &reason)) {
        err << "kelvane: cannot save " << path << ": " << reason
            << (load.state == SettingsState::kMissing ? "; nothing was written\n" : "; the file is unchanged\n");
        return kFailed;
    }
    out << said.str();
    err << notes.str();
    return 0;
}

}  // namespace

// Only names the service takes back: one that would make the file damaged
// would stop it at its next start.
std::optional<std::string> NameRule(const std::string& text) {
    if (text.empty()) return "a name is not empty";
    // The dialogs' name fields are single-line edits.
    if (text.find_first_of("\r\n") != std::string::npos) return "a name is one line, without line breaks";
    // A longer one would come back cut short from the file.
    if (text.size() > kMaxNameBytes)
        return "a name is at most " + std::to_string(kMaxNameBytes) + " bytes (this one is " +
               std::to_string(text.size()) + ")";
    if (const std::string problem = NameProblem(text); !problem.empty())
        return "the name " + problem + " (control characters or bytes that are not UTF-8 text)";
    return std::nullopt;
}

int RunSettingsCommand(const std::string& path, const std::vector<std::string>& args, std::ostream& out,
                       std::ostream& err) {
    if (args.empty()) {
        err << "kelvane: settings: expected show, antenna, band or assign; see kelvane --help\n";
        return kRefused;
    }
    if (args[0] == "show") return ShowSettings(path, args, out, err);
    Station station;
    std::string reason;
    // The lock lives on the file's folder; a first edit makes it, but only
    // once the edit has passed (on the defaults, which it then edits).
    std::string unread;
    const PathKind folder = KindOf(fileio::DirectoryOf(path), unread);
    if (folder == PathKind::kMissing || folder == PathKind::kFailed) {
        std::ostringstream ignored;
        try {
            Edit(args, station, ignored, ignored);
        } catch (const Refusal& r) {
            err << "kelvane: " << r.message << "; " << path << " is unchanged\n";
            return kRefused;
        }
        if (!MakeParents(path, reason)) {
            err << "kelvane: cannot save " << path << ": " << reason << "; nothing was written\n";
            return kFailed;
        }
    }
    return EditLocked(path, args, station, out, err);
}

}  // namespace kelvane::svc
