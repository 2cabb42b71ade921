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
void ReadBlock(Reader& reader, Int* values, std::size_t count) {
    std::array<unsigned char, 40> raw{};
    const std::size_t got = reader.Read(raw.data(), count * 4);
    for (std::size_t k = 0; k < got / 4; ++k) {
        const std::uint32_t u = std::uint32_t{raw[4 * k]} | std::uint32_t{raw[4 * k + 1]} << 8 |
                                std::uint32_t{raw[4 * k + 2]} << 16 | std::uint32_t{raw[4 * k + 3]} << 24;
        values[k] = static_cast<Int>(u);
    }
}

// Up to the zero byte or the end of the file; a name cut off by the end keeps
// the bytes that were there.
template <typename Reader>
void ReadName(Reader& reader, std::string& name) {
    name.clear();
    for (int c = reader.Get(); c != EOF && c != 0; c = reader.Get()) name.push_back(static_cast<char>(c));
}

template <typename Reader>
void ReadAll(Reader& reader, SwitcherTables& t, BandTable& b) {
    ReadBlock(reader, t.m_bandAntenna.data(), kBandCount);
    ReadBlock(reader, b.low.data(), kBandCount);
    ReadBlock(reader, b.high.data(), kBandCount);
    ReadBlock(reader, &t.m_portAddr, 1);
    ReadBlock(reader, t.m_antValue.data(), kAntennaCount);
    for (auto& name : t.m_antName) ReadName(reader, name);
    for (auto& name : b.name) ReadName(reader, name);
}

template <typename Int>
void PutInts(std::string& out, const Int* values, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const auto u = static_cast<std::uint32_t>(values[k]);
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((u >> shift) & 0xFFu));
    }
}

}  // namespace

void ParseSettings(std::string_view bytes, SwitcherTables& tables, BandTable& bands) {
    MemoryReader reader(bytes);
    ReadAll(reader, tables, bands);
}

bool LoadSettings(const std::string& path, SwitcherTables& tables, BandTable& bands) {
    FilePtr file(fileio::OpenExclusive(path, "rb"));
    if (!file) return false;
    // Staged, so that a read error (a directory, a failing disk) changes nothing.
    SwitcherTables stagedTables = tables;
    BandTable stagedBands = bands;
    FileReader reader(file.get());
    ReadAll(reader, stagedTables, stagedBands);
    if (std::ferror(file.get())) return false;
    tables = std::move(stagedTables);
    bands = std::move(stagedBands);
    return true;
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

bool SaveSettings(const std::string& path, const SwitcherTables& tables, const BandTable& bands) {
    const std::string bytes = SerializeSettings(tables, bands);
    const std::string temp = path + ".tmp";
    std::FILE* raw = fileio::OpenExclusive(temp, "wb");
    if (!raw) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
    ok = fileio::FlushToDisk(raw) && ok;
    ok = std::fclose(raw) == 0 && ok;
    ok = ok && fileio::ReplaceWith(temp, path);
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace kelvane
