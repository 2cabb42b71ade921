#include "settings/settings_file.h"

#include <array>
#include <cstdio>
#include <memory>
#include <utility>

#include "settings/file_io.h"

namespace kelvane {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class MemoryReader {
public:
    explicit MemoryReader(std::string_view bytes) : m_bytes(bytes) {}
    std::size_t Read(unsigned char* out, std::size_t n) {
        const std::size_t got = std::min(n, m_bytes.size() - m_pos);
        for (std::size_t k = 0; k < got; ++k) out[k] = static_cast<unsigned char>(m_bytes[m_pos + k]);
        m_pos += got;
        return got;
    }
    int Get() { return m_pos < m_bytes.size() ? static_cast<unsigned char>(m_bytes[m_pos++]) : EOF; }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

class FileReader {
public:
    explicit FileReader(std::FILE* f) : m_file(f) {}
    std::size_t Read(unsigned char* out, std::size_t n) { return std::fread(out, 1, n, m_file); }
    int Get() { return std::getc(m_file); }

private:
    std::FILE* m_file;
};

// A short block keeps the values of its unread tail; a partial last integer
// keeps its old value too, since its bytes were never fully read.
template <typename Reader, typename Int>
std::size_t ReadBlock(Reader& reader, Int* values, std::size_t count) {
    std::array<unsigned char, 40> raw{};
    const std::size_t got = reader.Read(raw.data(), count * 4);
    for (std::size_t k = 0; k < got / 4; ++k) {
        const std::uint32_t u = std::uint32_t{raw[4 * k]} | std::uint32_t{raw[4 * k + 1]} << 8 |
                                std::uint32_t{raw[4 * k + 2]} << 16 | std::uint32_t{raw[4 * k + 3]} << 24;
        values[k] = static_cast<Int>(u);
    }
    return got;
}

struct NameRead {
    bool ended = false;     // its zero byte was read
    bool overlong = false;  // bytes past kMaxNameBytes were dropped
};

// Up to the zero byte or the end of the file, so the next name starts where
// it should; a name cut off by the end keeps the bytes that were there.
template <typename Reader>
NameRead ReadName(Reader& reader, std::string& name) {
    name.clear();
    NameRead r;
    for (int c = reader.Get(); c != EOF; c = reader.Get()) {
        if (c == 0) return r.ended = true, r;
        if (name.size() < kMaxNameBytes)
            name.push_back(static_cast<char>(c));
        else
            r.overlong = true;
    }
    return r;
}

constexpr int kNameCount = kAntennaCount + kBandCount;

std::string NameLabel(int n) {
    return n < kAntennaCount ? "antenna " + std::to_string(n + 1) : "band " + std::to_string(n - kAntennaCount + 1);
}

struct ReadFacts {
    std::size_t fixedBytes = 0;
    std::array<NameRead, kNameCount> names{};
};

template <typename Reader>
ReadFacts ReadAll(Reader& reader, SwitcherTables& t, BandTable& b) {
    ReadFacts f;
    f.fixedBytes += ReadBlock(reader, t.m_bandAntenna.data(), kBandCount);
    f.fixedBytes += ReadBlock(reader, b.low.data(), kBandCount);
    f.fixedBytes += ReadBlock(reader, b.high.data(), kBandCount);
    f.fixedBytes += ReadBlock(reader, &t.m_portAddr, 1);
    f.fixedBytes += ReadBlock(reader, t.m_antValue.data(), kAntennaCount);
    int n = 0;
    for (auto& name : t.m_antName) f.names[static_cast<std::size_t>(n++)] = ReadName(reader, name);
    for (auto& name : b.name) f.names[static_cast<std::size_t>(n++)] = ReadName(reader, name);
    return f;
}

const std::string& NameAt(const SwitcherTables& t, const BandTable& b, int n) {
    return n < kAntennaCount ? t.m_antName[static_cast<std::size_t>(n)]
                             : b.name[static_cast<std::size_t>(n - kAntennaCount)];
}

// The first thing wrong, in file order; damage before shortness.
SettingsLoad Judge(const ReadFacts& f, const SwitcherTables& t, const BandTable& b) {
    const auto damaged = [](std::string why) { return SettingsLoad{SettingsState::kDamaged, std::move(why)}; };
    if (f.fixedBytes < kSettingsFixedBytes)
        return damaged("only " + std::to_string(f.fixedBytes) + " bytes, fewer than the " +
                       std::to_string(kSettingsFixedBytes) + " of its numbers");
    for (std::size_t i = 0; i < static_cast<std::size_t>(kBandCount); ++i)
        for (const auto& [edge, value] : {std::pair{"low", b.low[i]}, {"high", b.high[i]}})
            if (value < 0)
                return damaged("band " + std::to_string(i + 1) + "'s " + edge + " edge is " + std::to_string(value) +
                               " kHz, outside 0 to 2147483647");
    for (int n = 0; n < kNameCount; ++n) {
        const std::string problem =
            f.names[static_cast<std::size_t>(n)].overlong
                ? "is longer than the dialogs allow (over " + std::to_string(kMaxNameBytes) + " bytes)"
                : NameProblem(NameAt(t, b, n));
        if (!problem.empty()) return damaged(NameLabel(n) + "'s name " + problem);
    }
    for (int n = 0; n < kNameCount; ++n)
        if (!f.names[static_cast<std::size_t>(n)].ended)
            return {SettingsState::kShort,
                    "it ends before the end of " + NameLabel(n) + "'s name; the names from there on are empty or cut"};
    return {SettingsState::kLoaded, {}};
}

// The length of the printable UTF-8 character at the start of `s`; 0 for a
// control character (C0, DEL, C1), a byte that starts no character, a cut or
// overlong sequence, or a surrogate.
std::size_t PrintableAt(std::string_view s) {
    const auto byte = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned b0 = byte(0);
    if (b0 < 0x20 || b0 == 0x7F) return 0;
    if (b0 < 0x80) return 1;
    std::size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the second byte's range
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        if (b0 == 0xC2) lo = 0xA0;  // U+0080..U+009F are controls
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < lo || byte(1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
    return len;
}

template <typename Int>
void PutInts(std::string& out, const Int* values, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const auto u = static_cast<std::uint32_t>(values[k]);
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((u >> shift) & 0xFFu));
    }
}

}  // namespace

SettingsLoad ParseSettings(std::string_view bytes, SwitcherTables& tables, BandTable& bands) {
    MemoryReader reader(bytes);
    return Judge(ReadAll(reader, tables, bands), tables, bands);
}

SettingsLoad ReadSettingsFile(const std::string& path, SwitcherTables& tables, BandTable& bands) {
    FilePtr file(fileio::OpenExclusive(path, "rb"));
    if (!file)
        return {fileio::LastErrorWasNotFound() ? SettingsState::kMissing : SettingsState::kUnreadable,
                fileio::LastErrorText()};
    // Staged, so that a read error (a directory, a failing disk) changes nothing.
    SwitcherTables stagedTables = tables;
    BandTable stagedBands = bands;
    FileReader reader(file.get());
    const ReadFacts facts = ReadAll(reader, stagedTables, stagedBands);
    if (std::ferror(file.get())) return {SettingsState::kUnreadable, fileio::LastErrorText()};
    tables = std::move(stagedTables);
    bands = std::move(stagedBands);
    return Judge(facts, tables, bands);
}

std::string NameProblem(std::string_view name) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < name.size(); ++chars) {
        const std::size_t len = PrintableAt(name.substr(i));
        if (len == 0) return "has bytes that are not printable text";
        i += len;
    }
    if (chars > kMaxNameChars)
        return "is longer than the dialogs allow (" + std::to_string(chars) + " characters, at most " +
               std::to_string(kMaxNameChars) + ")";
    return {};
}

std::string EscapedName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        if (const std::size_t len = PrintableAt(name.substr(i))) {
            out.append(name.substr(i, len));
            i += len;
            continue;
        }
        const auto b = static_cast<unsigned char>(name[i++]);
        out += {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
    }
    return out;
}

std::string SerializeSettings(const SwitcherTables& t, const BandTable& b) {
    std::string out;
    PutInts(out, t.m_bandAntenna.data(), kBandCount);
    PutInts(out, b.low.data(), kBandCount);
    PutInts(out, b.high.data(), kBandCount);
    PutInts(out, &t.m_portAddr, 1);
    PutInts(out, t.m_antValue.data(), kAntennaCount);
    for (const auto& name : t.m_antName) out.append(name).push_back('\0');
    for (const auto& name : b.name) out.append(name).push_back('\0');
    return out;
}

bool SaveSettings(const std::string& path, const SwitcherTables& tables, const BandTable& bands, std::string* reason) {
    std::string why;
    if (fileio::WriteFileAtomically(path, SerializeSettings(tables, bands), 0666, why)) return true;
    if (reason) *reason = why;
    return false;
}

}  // namespace kelvane
