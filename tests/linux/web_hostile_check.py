"""Hostile requests against the console of the real service (with a password
and web-hosts) following the real rigctld: each row does what a client on the
LAN could, and checks that the service still answers, switches and holds.
Usage: web_hostile_check.py KELVANE"""
import json
import os
import socket
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelvane_harness as h  # noqa: E402

program = sys.argv[1]
work = tempfile.TemporaryDirectory()
settings = os.path.join(work.name, "Kelvaneer12.ini")
password = os.path.join(work.name, "password")
for words in (["settings", "assign", "5", "3"], ["settings", "assign", "3", "2"], ["web-password", password]):
    assert subprocess.run([program, "--settings", settings] + words, input="pw\n", text=True).returncode == 0
rig = h.Rig()
service = h.Service(program, work.name, rig, settings,
                    ["--web-password-file", password, "--web-hosts", "Shack.local, 192.0.2.7"])
port, pid = service.web_port, service.proc.pid


def exchange(text):
    """All a raw request gets back, to the server's close."""
    with socket.create_connection(("127.0.0.1", port), timeout=15) as s:
        s.sendall(text.encode())
        got = b""
        while chunk := s.recv(65536):
            got += chunk
    return got.decode("latin-1")


def status(got):
    return int(got.split(" ", 2)[1]) if got.startswith("HTTP/1.1 ") else 0


def request(method, path, headers="", body=""):
    return exchange("%s %s HTTP/1.1\r\n%sConnection: close\r\nContent-Length: %d\r\n\r\n%s"
                    % (method, path, headers, len(body), body))


login = request("POST", "/api/login", "Host: 127.0.0.1:%d\r\nOrigin: http://127.0.0.1:%d\r\n"
                "Content-Type: application/json\r\n" % (port, port), json.dumps({"password": "pw"}))
assert status(login) == 200, login
cookie = "Cookie: " + login.split("Set-Cookie: ", 1)[1].split(";", 1)[0] + "\r\n"


def follows(hz, antenna):
    rig.ask("F %d" % hz)
    h.eventually(lambda: service.journal_text().endswith(" antenna=%d Ant #%d\n" % (antenna, antenna)),
                 "antenna %d in the journal" % antenna)


def header_flood():
    before = h.peak_rss_kib(pid)
    sent, ended = h.header_flood(port)
    grown = h.peak_rss_kib(pid) - before
    assert all(ended) and grown < 16 * 1024, "sent %s, ended %s, peak RSS grew %d KiB" % (sent, ended, grown)


def idle_connections():
    fds = h.open_fds(pid)
    idle = h.idle_connections(port, 1500)
    try:
        got = request("GET", "/api/state", "Host: 127.0.0.1\r\n" + cookie)
        assert status(got) == 200 and '"radios"' in got, got
        follows(7100000, 2)
        held = h.open_fds(pid) - fds
        assert held <= 64, "%d more descriptors held" % held
    finally:
        for s in idle:
            s.close()
    follows(14074000, 3)


def refused_bodies_are_not_requests():
    inner = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n%s\r\n" % cookie
    for method, path, expected in (("GET", "/nothing", 404), ("DELETE", "/api/state", 405),
                                   ("POST", "/api/auto", 415), ("GET", "/api/state", 421)):
        host = "Host: evil.example\r\n" if expected == 421 else "Host: 127.0.0.1\r\n"
        got = exchange("%s %s HTTP/1.1\r\n%sContent-Length: %d\r\n\r\n%s" % (method, path, host, len(inner), inner))
        assert status(got) == expected and got.count("HTTP/1.1 ") == 1, got


def only_its_own_names():
    for host, expected in (("127.0.0.1:%d" % port, 200), ("localhost", 200), ("[::1]", 200),
                           ("shack.LOCAL:%d" % port, 200), ("192.0.2.7", 200), ("evil.example", 421),
                           ("127.0.0.1.evil.example", 421), ("192.0.2.8", 421), ("", 421)):
        got = request("GET", "/api/state", "Host: %s\r\n" % host + cookie)
        assert status(got) == expected, (host, got)


failed = []
try:
    for name, row in (("a header flood", header_flood), ("1500 idle connections", idle_connections),
                      ("refused bodies", refused_bodies_are_not_requests), ("Host names", only_its_own_names)):
        try:
            row()
        except AssertionError as e:
            failed.append("%s: %s" % (name, str(e)[:500]))
    assert service.proc.poll() is None, "the service ended"
finally:
    service.stop()
    rig.stop()
print("\n".join(failed) or "hostile requests: every row holds")
sys.exit(1 if failed else 0)
