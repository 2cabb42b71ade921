#include "service/web/auth.h"

#include <arpa/inet.h>
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

Auth::Auth(AuthOptions options) : m_o(std::move(options)) {
    SodiumReady();
    if (!m_o.tokenFile.empty()) m_tokens = std::make_unique<TokenFile>(m_o.tokenFile);
}

std::string Auth::ThrottleKey(const std::string& address) {
    in6_addr a{};
    if (::inet_pton(AF_INET6, address.c_str(), &a) != 1) return address;
    char text[INET6_ADDRSTRLEN] = "";
    if (IN6_IS_ADDR_V4MAPPED(&a)) return ::inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
    std::fill(a.s6_addr + 8, a.s6_addr + 16, 0);
    return std::string(::inet_ntop(AF_INET6, &a, text, sizeof text)) + "/64";
}

// Under m_mutex: the try is counted as failed until its hash says otherwise.
void Auth::Reserve(const std::string& key, Time now) {
    if (m_failures.size() >= kMaxAddresses && !m_failures.count(key)) {
        // The table stays bounded: the address whose wait ends first makes room.
        auto oldest = std::min_element(m_failures.begin(), m_failures.end(),
                                       [](auto& a, auto& b) { return a.second.until < b.second.until; });
        m_failures.erase(oldest);
    }
    Failures& f = m_failures[key];
    // 1 s, 2 s, 4 s ... up to a minute between tries from one address.
    f.count = std::min(f.count + 1, 7);
    f.until = now + std::min(std::chrono::seconds(1 << (f.count - 1)), std::chrono::seconds(60));
    ++m_windowFailures;
}

Auth::Login Auth::TryLogin(const std::string& address, const std::string& password, std::string& token,
                           std::chrono::seconds& retryAfter) {
    const auto now = m_o.clock();
    const std::string key = ThrottleKey(address);
    {
        std::lock_guard lock(m_mutex);
        if (now - m_windowStart >= std::chrono::minutes(1)) {
            m_windowStart = now;
            m_windowFailures = 0;
        }
        const auto it = m_failures.find(key);
        const Time until = it != m_failures.end() && now < it->second.until ? it->second.until
                           : m_windowFailures >= m_o.failuresPerMinute      ? m_windowStart + std::chrono::minutes(1)
                                                                            : Time{};
        if (until != Time{}) {
            retryAfter = std::chrono::ceil<std::chrono::seconds>(until - now);
            return Login::kSlowDown;
        }
        Reserve(key, now);
    }
    if (m_o.verbose) m_o.verbose("checking a password from " + address);
    bool right = false;
    if (!m_o.hash.empty()) {
        std::lock_guard verify(m_verify);
        right = crypto_pwhash_str_verify(m_o.hash.c_str(), password.data(), password.size()) == 0;
    }
    std::unique_lock lock(m_mutex);
    if (!right) {
        Failures& f = m_failures[key];
        if (f.loggedAt && now - *f.loggedAt < std::chrono::minutes(1)) return Login::kWrong;
        f.loggedAt = now;
        const auto wait = std::chrono::ceil<std::chrono::seconds>(f.until - now).count();
        lock.unlock();
        if (m_o.warn)
            m_o.warn("wrong password from " + address + "; its next try waits " + std::to_string(wait) +
                     " s (one line a minute per address)");
        return Login::kWrong;
    }
    m_failures.erase(key);
    m_windowFailures = std::max(0, m_windowFailures - 1);
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = Live(it->second, now) ? ++it : m_sessions.erase(it);
    if (m_sessions.size() >= kMaxSessions)
        m_sessions.erase(std::min_element(m_sessions.begin(), m_sessions.end(),
                                          [](auto& a, auto& b) { return a.second.used < b.second.used; }));
    token = RandomToken();
    m_sessions[token] = {now, now};
    return Login::kOk;
}

bool Auth::Admits(const std::string& cookie, const std::string& authorization) {
    if (authorization.empty()) return Valid(cookie);
    constexpr std::string_view kBearer = "Bearer ";
    return m_tokens && authorization.rfind(kBearer, 0) == 0 &&
           !m_tokens->Check(authorization.substr(kBearer.size())).empty();
}

bool Auth::Valid(const std::string& token) {
    if (m_o.hash.empty()) return true;
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.find(token);
    if (it == m_sessions.end()) return false;
    const auto now = m_o.clock();
    if (!Live(it->second, now)) {
        m_sessions.erase(it);
        return false;
    }
    it->second.used = now;
    return true;
}

void Auth::Logout(const std::string& token) {
    std::lock_guard lock(m_mutex);
    m_sessions.erase(token);
}

}  // namespace kelvane::web
