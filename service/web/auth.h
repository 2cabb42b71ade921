#pragma once
// Who may use the web console when it listens beyond loopback: a password
// whose hash (libsodium's crypto_pwhash_str, Argon2id) sits in a file, session
// cookies handed out at login, tokens for scripts, and a brake on failed
// logins per address and for all addresses together.

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/web/tokens.h"

namespace kelvane::web {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// The password file's one line; empty when the hash cannot be made (out of memory).
std::string HashPassword(const std::string& password);

// `kelvane web-password FILE`: reads the password from the first line of `in`
// and writes its hash to FILE (mode 0600, replaced atomically). Returns the exit code.
int RunWebPasswordCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Reads the hash a password file holds; false with the reason when it holds none.
bool LoadPasswordFile(const std::string& path, std::string& hash, std::string& why);

using LogLine = std::function<void(const std::string& line)>;

struct AuthOptions {
    std::string hash;       // empty: no password, every request is let in
    std::string tokenFile;  // empty: no tokens for scripts
    Clock clock = std::chrono::steady_clock::now;
    // From the server's workers: a failed login (at most once a minute per
    // address), and each hash check (for the verbose log).
    LogLine warn, verbose;
    int failuresPerMinute = 30;  // from all addresses together
};

class Auth {
public:
    explicit Auth(AuthOptions options);

    bool required() const { return !m_o.hash.empty(); }

    enum class Login { kOk, kWrong, kSlowDown };
    // On kOk `token` is the new session; on kSlowDown `retryAfter` says when
    // to come back. Whether to check the hash at all is decided first, under
    // one lock, so parallel tries from one address cannot all get a check.
    Login TryLogin(const std::string& address, const std::string& password, std::string& token,
                   std::chrono::seconds& retryAfter);
    // An API request: a token of the token file in `authorization` ("Bearer
    // TOKEN"; a wrong one is refused even without a password), else the
    // session cookie.
    bool Admits(const std::string& cookie, const std::string& authorization);
    bool Valid(const std::string& token);
    void Logout(const std::string& token);

    // Who a failed login is held against: the address, and for IPv6 its /64,
    // which one machine can fill with addresses.
    static std::string ThrottleKey(const std::string& address);

    static constexpr std::size_t kMaxSessions = 64;
    static constexpr std::size_t kMaxAddresses = 256;
    static constexpr std::chrono::hours kSessionIdle{12};
    static constexpr std::chrono::hours kSessionLife{24 * 7};

private:
    using Time = std::chrono::steady_clock::time_point;
    struct Failures {
        int count = 0;
        Time until;                    // no attempt before this
        std::optional<Time> loggedAt;  // the last line about this address
    };
    struct Session {
        Time created, used;
    };

    void Reserve(const std::string& key, Time now);
    bool Live(const Session& s, Time now) const {
        return now - s.used < kSessionIdle && now - s.created < kSessionLife;
    }

    AuthOptions m_o;
    std::unique_ptr<TokenFile> m_tokens;
    std::mutex m_mutex;
    std::mutex m_verify;                         // one hash check at a time: each takes tens of MiB
    std::map<std::string, Session> m_sessions;   // by token
    std::map<std::string, Failures> m_failures;  // by ThrottleKey
    Time m_windowStart{};
    int m_windowFailures = 0;  // logins that failed (or are being checked) since m_windowStart
};

}  // namespace kelvane::web
