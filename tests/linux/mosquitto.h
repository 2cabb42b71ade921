#pragma once
// A real mosquitto on a free loopback port for the station bus's tests, and a
// watcher that records every message on the broker.

#include <mosquitto.h>

#include <map>
#include <mutex>
#include <optional>

#include "tests/linux/helpers.h"

namespace kelvane::svc::test {

// Killed with its object; Kill and Start again keep the port.
class Broker {
public:
    // With `user`, only USER with PASSWORD may connect. With `tls`, also a TLS
    // listener whose certificate Cert(true) signs (Cert(false): one that does not).
    explicit Broker(const std::string& user = {}, const std::string& password = {}, bool tls = false)
        : m_port(FreePort()), m_conf(::testing::TempDir() + "mosquitto-" + std::to_string(m_port)) {
        std::string conf = "listener " + std::to_string(m_port) + " 127.0.0.1\nlog_dest none\n";
        if (tls) {
            // Readable by all: mosquitto run as root reads them as its own user.
            for (const char* name : {".cert", ".other"}) {
                const std::string cmd =
                    "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                    "-addext subjectAltName=IP:127.0.0.1 -keyout " +
                    m_conf + name + ".key -out " + m_conf + name + " 2>/dev/null && chmod 644 " + m_conf + name + "*";
                EXPECT_EQ(std::system(cmd.c_str()), 0);
            }
            m_tlsPort = FreePort();
            conf += "listener " + std::to_string(m_tlsPort) + " 127.0.0.1\ncertfile " + m_conf + ".cert\nkeyfile " +
                    m_conf + ".cert.key\n";
        }
        if (user.empty()) {
            conf += "allow_anonymous true\n";
        } else {
            const std::string cmd = "mosquitto_passwd -b -c " + m_conf + ".pw " + user + " " + password;
            EXPECT_EQ(std::system(cmd.c_str()), 0);
            conf += "allow_anonymous false\npassword_file " + m_conf + ".pw\n";
        }
        std::ofstream(m_conf + ".conf") << conf;
        Start();
    }
    ~Broker() {
        Kill();
        for (const char* f : {".conf", ".pw", ".cert", ".cert.key", ".other", ".other.key"})
            std::remove((m_conf + f).c_str());
    }
    void Start() {
        m_pid = ::fork();
        if (m_pid == 0) {
            const std::string conf = m_conf + ".conf";
            ::execlp("mosquitto", "mosquitto", "-c", conf.c_str(), nullptr);
            ::_exit(127);
        }
        EXPECT_TRUE(Eventually([this] {
            const int fd = Dial(m_port);
            if (fd >= 0) ::close(fd);
            return fd >= 0;
        }));
    }
    void Kill() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    int port() const { return m_port; }
    std::string Url(const std::string& user = {}) const {
        return "mqtt://" + (user.empty() ? "" : user + "@") + "127.0.0.1:" + std::to_string(m_port);
    }
    std::string TlsUrl() const { return "mqtts://127.0.0.1:" + std::to_string(m_tlsPort); }
    std::string Cert(bool signs) const { return m_conf + (signs ? ".cert" : ".other"); }

private:
    int m_port, m_tlsPort = 0;
    std::string m_conf;
    pid_t m_pid = -1;
};

// Subscribed to everything; what a fresh subscriber sees of retained topics comes flagged.
class Watcher {
public:
    struct Message {
        std::string payload;
        bool retained = false;
    };
    explicit Watcher(const Broker& broker, const std::string& user = {}, const std::string& password = {}) {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, this);
        if (!user.empty()) mosquitto_username_pw_set(m_mosq, user.c_str(), password.c_str());
        mosquitto_message_callback_set(m_mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto& w = *static_cast<Watcher*>(self);
            std::lock_guard lock(w.m_mutex);
            w.m_got[m->topic].push_back(
                {std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
                 m->retain});
        });
        mosquitto_connect(m_mosq, "127.0.0.1", broker.port(), 10);
        mosquitto_subscribe(m_mosq, nullptr, "#", 1);
        mosquitto_loop_start(m_mosq);
    }
    ~Watcher() {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    std::vector<Message> All(const std::string& topic) {
        std::lock_guard lock(m_mutex);
        return m_got[topic];
    }
    // Waits for a message on `topic` for which `match` holds.
    std::optional<Message> Await(const std::string& topic, const std::function<bool(const Message&)>& match,
                                 std::chrono::milliseconds limit = 20s) {
        std::optional<Message> found;
        Eventually(
            [&] {
                for (const auto& m : All(topic))
                    if (match(m)) found = m;
                return found.has_value();
            },
            [] {}, limit);
        return found;
    }
    void Publish(const std::string& topic, const std::string& payload, bool retain = false) {
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    }

private:
    mosquitto* m_mosq;
    std::mutex m_mutex;
    std::map<std::string, std::vector<Message>> m_got;
};

}  // namespace kelvane::svc::test
