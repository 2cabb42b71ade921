#include "service/web/auth.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "settings/file_io.h"

namespace kelvane::web {
namespace {

bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string RandomToken() {
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

}  // namespace

std::string HashPassword(const std::string& password) {
    if (!SodiumReady()) return {};
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return out;
}

int RunWebPasswordCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                          std::ostream& err) {
    if (args.size() != 1) {
        err << "kelvane: web-password: expected FILE (the password is read from standard input)\n";
        return 2;
    }
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
        err << "kelvane: web-password: no password on standard input; " << args[0] << " is unchanged\n";
        return 2;
    }
    const std::string hash = HashPassword(password);
    sodium_memzero(password.data(), password.size());
    if (hash.empty()) {
        err << "kelvane: web-password: cannot make the hash (out of memory)\n";
        return 1;
    }
    std::string why;
    if (!fileio::WriteFileAtomically(args[0], hash + "\n", 0600, why)) {
        err << "kelvane: web-password: cannot write " << args[0] << ": " << why << "\n";
        return 1;
    }
    out << "kelvane: the password's hash is in " << args[0] << "; give it with --web-password-file\n";
    return 0;
}

bool LoadPasswordFile(const std::string& path, std::string& hash, std::string& why) {
    std::ifstream file(path);
    if (!file) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    std::getline(file, hash);
    // Only a hash made by web-password: a password written there by hand is refused.
    if (hash.rfind("$argon2", 0) != 0) {
        why = path + " holds no password hash; make it with kelvane web-password";
        hash.clear();
        return false;
    }
    return true;
}

Auth::Auth(std::string hash, Clock clock) : m_hash(std::move(hash)), m_clock(std::move(clock)) { SodiumReady(); }

Auth::Login Auth::TryLogin(const std::string& address, const std::string& password, std::string& token,
                           std::chrono::seconds& retryAfter) {
    const auto now = m_clock();
    {
        std::lock_guard lock(m_mutex);
        auto it = m_failures.find(address);
        if (it != m_failures.end() && now < it->second.until) {
            retryAfter = std::chrono::ceil<std::chrono::seconds>(it->second.until - now);
            return Login::kSlowDown;
        }
    }
    bool right = false;
    if (!m_hash.empty()) {
        std::lock_guard verify(m_verify);
        right = crypto_pwhash_str_verify(m_hash.c_str(), password.data(), password.size()) == 0;
    }
    std::lock_guard lock(m_mutex);
    if (!right) {
        if (m_failures.size() >= kMaxAddresses && !m_failures.count(address)) {
            // The table stays bounded: the address whose wait ends first makes room.
            auto oldest = std::min_element(m_failures.begin(), m_failures.end(),
                                           [](auto& a, auto& b) { return a.second.until < b.second.until; });
            m_failures.erase(oldest);
        }
        Failures& f = m_failures[address];
        // 1 s, 2 s, 4 s ... up to a minute between tries from one address.
        f.count = std::min(f.count + 1, 7);
        f.until = now + std::min(std::chrono::seconds(1 << (f.count - 1)), std::chrono::seconds(60));
        return Login::kWrong;
    }
    m_failures.erase(address);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) it = it->second <= now ? m_sessions.erase(it) : ++it;
    if (m_sessions.size() >= kMaxSessions)
        m_sessions.erase(std::min_element(m_sessions.begin(), m_sessions.end(),
                                          [](auto& a, auto& b) { return a.second < b.second; }));
    token = RandomToken();
    m_sessions[token] = now + kSessionLife;
    return Login::kOk;
}

bool Auth::Valid(const std::string& token) {
    if (m_hash.empty()) return true;
    std::lock_guard lock(m_mutex);
    auto it = m_sessions.find(token);
    return it != m_sessions.end() && m_clock() < it->second;
}

void Auth::Logout(const std::string& token) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(token);
}

}  // namespace kelvane::web
