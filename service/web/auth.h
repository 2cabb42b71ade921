#pragma once
// Who may use the web console when it listens beyond loopback: a password
// whose hash (libsodium's crypto_pwhash_str, Argon2id) sits in a file, session
// cookies handed out at login, and a per-address brake on failed logins.

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::web {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

// The password file's one line; empty when the hash cannot be made (out of memory).
std::string HashPassword(const std::string& password);

// `kelvane web-password FILE`: reads the password from the first line of `in`
// and writes its hash to FILE (mode 0600, replaced atomically). Returns the exit code.
int RunWebPasswordCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Reads the hash a password file holds; false with the reason when it holds none.
bool LoadPasswordFile(const std::string& path, std::string& hash, std::string& why);

class Auth {
public:
    // An empty hash: no password, every request is let in.
    Auth(std::string hash, Clock clock);

    bool required() const { return !m_hash.empty(); }

    enum class Login { kOk, kWrong, kSlowDown };
    // On kOk `token` is the new session; on kSlowDown `retryAfter` says when to come back.
    Login TryLogin(const std::string& address, const std::string& password, std::string& token,
                   std::chrono::seconds& retryAfter);
    bool Valid(const std::string& token);
    void Logout(const std::string& token);

    static constexpr std::size_t kMaxSessions = 64;
    static constexpr std::size_t kMaxAddresses = 256;
    static constexpr std::chrono::hours kSessionLife{24 * 30};

private:
    struct Failures {
        int count = 0;
        std::chrono::steady_clock::time_point until;  // no attempt before this
    };

    std::string m_hash;
    Clock m_clock;
    std::mutex m_mutex;
    std::mutex m_verify;  // one hash check at a time: each takes tens of MiB
    std::map<std::string, std::chrono::steady_clock::time_point> m_sessions;  // token -> expiry
    std::map<std::string, Failures> m_failures;
};

}  // namespace kelvane::web
