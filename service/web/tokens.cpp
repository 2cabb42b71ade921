#include "service/web/tokens.h"

#include <sodium.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

#include "settings/file_io.h"

namespace kelvane::web {
namespace {

// Names stand in log lines and in the file's own "NAME HASH" lines: nothing to quote.
bool TokenName(const std::string& name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    });
}

std::string HashOf(const std::string& token) {
    std::string hash(crypto_generichash_BYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), hash.size(),
                       reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr, 0);
    return hash;
}

std::string Hex(const std::string& bytes) {
    std::string hex(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    hex.pop_back();
    return hex;
}

std::string FileText(const std::vector<TokenEntry>& tokens) {
    std::string text = "# kelvane web-token: NAME and the hash of its token; the tokens are not kept\n";
    for (const auto& t : tokens) text += t.name + " " + Hex(t.hash) + "\n";
    return text;
}

}  // namespace

bool ReadTokenFile(const std::string& path, std::vector<TokenEntry>& tokens, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    tokens.clear();
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        TokenEntry t;
        std::string hex, extra;
        t.hash.resize(crypto_generichash_BYTES);
        std::size_t got = 0;
        words >> t.name >> hex >> extra;
        if (!TokenName(t.name) || !extra.empty() || hex.size() != t.hash.size() * 2 ||
            sodium_hex2bin(reinterpret_cast<unsigned char*>(t.hash.data()), t.hash.size(), hex.c_str(), hex.size(),
                           nullptr, &got, nullptr) != 0) {
            why = path + ": line " + std::to_string(number) + ": expected NAME and a hash, as kelvane web-token writes";
            return false;
        }
        tokens.push_back(std::move(t));
    }
    return true;
}

int RunWebTokenCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const bool list = args.size() == 2 && args[1] == "--list", remove = args.size() == 3 && args[1] == "--remove";
    if (!list && !remove && (args.size() != 2 || args[1].rfind("--", 0) == 0)) {
        err << "kelvane: web-token: expected FILE NAME, FILE --list or FILE --remove NAME\n";
        return 2;
    }
    const std::string& path = args[0];
    const std::string name = list ? "" : args.back();
    if (!list && !TokenName(name)) {
        err << "kelvane: web-token: a token's name is 1 to 32 letters, digits, '-', '_' or '.'\n";
        return 2;
    }
    std::vector<TokenEntry> tokens;
    std::string why;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !ReadTokenFile(path, tokens, why)) {
        err << "kelvane: web-token: " << why << "\n";
        return 1;
    }
    const auto named = std::find_if(tokens.begin(), tokens.end(), [&](const TokenEntry& t) { return t.name == name; });
    if (list) {
        for (const auto& t : tokens) out << t.name << "\n";
        return 0;
    }
    std::string token;
    if (remove) {
        if (named == tokens.end()) {
            err << "kelvane: web-token: " << path << " has no token named " << name << "\n";
            return 1;
        }
        tokens.erase(named);
    } else {
        if (named != tokens.end()) {
            err << "kelvane: web-token: " << path << " already has a token named " << name
                << "; remove it first (--remove " << name << ")\n";
            return 1;
        }
        if (sodium_init() < 0) return 1;
        std::string bytes(32, '\0');
        randombytes_buf(bytes.data(), bytes.size());
        token = Hex(bytes);
        tokens.push_back({name, HashOf(token)});
    }
    if (!fileio::WriteFileAtomically(path, FileText(tokens), 0600, why)) {
        err << "kelvane: web-token: cannot write " << path << ": " << why << "\n";
        return 1;
    }
    if (remove)
        err << "kelvane: the token " << name << " is removed from " << path << "\n";
    else
        out << token << "\n";
    return 0;
}

std::string TokenFile::Check(const std::string& token) {
    std::lock_guard lock(m_mutex);
    struct stat st {};
    const bool there = ::stat(m_path.c_str(), &st) == 0;
    const std::uint64_t stamp[4] = {
        st.st_dev, st.st_ino, static_cast<std::uint64_t>(st.st_size),
        static_cast<std::uint64_t>(st.st_ctim.tv_sec) * 1000000000u + static_cast<std::uint64_t>(st.st_ctim.tv_nsec)};
    if (!there || !m_read || !std::equal(stamp, stamp + 4, m_stamp)) {
        std::string why;
        // A file that is gone or damaged lets no token in: it was edited to withdraw them.
        m_read = there && ReadTokenFile(m_path, m_tokens, why);
        if (!m_read) m_tokens.clear();
        std::copy(stamp, stamp + 4, m_stamp);
    }
    const std::string hash = HashOf(token);
    std::string name;
    // Every entry is compared, in constant time each, so the time taken tells nothing of a match.
    for (const auto& t : m_tokens)
        if (sodium_memcmp(t.hash.data(), hash.data(), hash.size()) == 0) name = t.name;
    return name;
}

}  // namespace kelvane::web
