#pragma once
// Tokens for scripts: `Authorization: Bearer TOKEN` on the API in place of a
// login. The file holds one "NAME HASH" line per token (HASH: BLAKE2b-256 of
// the token, in hex), so a copy of the file lets no one in; the token itself
// is shown once, when it is made.

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

namespace kelvane::web {

struct TokenEntry {
    std::string name;
    std::string hash;  // crypto_generichash_BYTES raw bytes
};

// The file's tokens; false with the reason (and the line) when it cannot be read or is not one.
bool ReadTokenFile(const std::string& path, std::vector<TokenEntry>& tokens, std::string& why);

// `kelvane web-token FILE NAME`, `FILE --list`, `FILE --remove NAME`. Returns the exit code.
int RunWebTokenCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The file as the console checks tokens against it: read again whenever it
// changed on disk, so that a token removed stops working at its next request.
class TokenFile {
public:
    explicit TokenFile(std::string path) : m_path(std::move(path)) {}
    // The name of the token `token` is; empty when it is none of the file's
    // (or the file cannot be read).
    std::string Check(const std::string& token);

private:
    std::mutex m_mutex;
    std::string m_path;
    std::uint64_t m_stamp[4] = {};  // device, inode, size, change time: what tells an edit
    bool m_read = false;
    std::vector<TokenEntry> m_tokens;
};

}  // namespace kelvane::web
