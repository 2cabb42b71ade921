"""Logins, sessions and tokens against the real service following the real
rigctld, and config text that is not UTF-8, at start and under SIGHUP.
Usage: web_auth_check.py KELVANE"""
import concurrent.futures
import json
import os
import signal
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelvane_harness as h  # noqa: E402

program = sys.argv[1]
work = tempfile.TemporaryDirectory()
settings, password, tokens, conf = (os.path.join(work.name, n) for n in ("k.ini", "password", "tokens", "k.conf"))
JSON = {"Content-Type": "application/json"}


def kelvane(*args, stdin=None):
    done = subprocess.run([program] + list(args), input=stdin, capture_output=True, timeout=30)
    return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")  # text is text: strict


def config(*lines):
    with open(conf, "wb") as f:
        f.write(b"".join(line + b"\n" for line in lines))


def request(path, method="GET", body=None, headers=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(api + path, body, method=method, headers=headers or {})) as r:
            return r.status, r.headers
    except urllib.error.HTTPError as e:
        return e.code, e.headers


def login(secret):
    return request("login", "POST", json.dumps({"password": secret}).encode(), JSON)


def cookie_of(secret):  # a wrong password slows the next try down: try until the wait is over
    status, headers = h.eventually(lambda: (lambda r: r if r[0] != 429 else None)(login(secret)), "the brake lets go")
    assert status == 200, status
    return {"Cookie": headers["Set-Cookie"].split(";")[0]}


def log_text():
    with open(service.log, "rb") as f:
        return f.read().decode("utf-8")


for lines, says in (([b"source = rigctld:h\xe9te:4532"], 'line 1: --source "rigctld:h\\xE9te:4532": not UTF-8'),
                    ([b"[radio A\xe9]", b"source = udp:12060", b"output = journal"], "line 1: [radio A\\xE9]")):
    config(*lines)
    status, _, err = kelvane("--config", conf, "--settings", settings)
    assert status == 2 and says in err, (status, err)

rig = h.Rig()
service = None
try:
    assert kelvane("web-password", password, stdin=b"right\n")[0] == 0
    token = kelvane("web-token", tokens, "script")[1]
    assert len(token) == 65 and token.endswith("\n"), token
    config(b"web-token-file = " + tokens.encode())
    service = h.Service(program, work.name, rig, settings, ["--config", conf, "--web-password-file", password, "-v"])
    api = service.url + "api/"

    with concurrent.futures.ThreadPoolExecutor(20) as pool:
        statuses = list(pool.map(lambda _: login("wrong")[0], range(20)))
    checked = log_text().count("checking a password from 127.0.0.1")
    assert 1 <= checked <= 3 and statuses.count(401) == checked and statuses.count(429) == 20 - checked, statuses
    assert log_text().count("wrong password from 127.0.0.1") == 1, log_text()

    session = cookie_of("right")
    bearer = {"Authorization": "Bearer " + token.strip()}
    pick = json.dumps({"antenna": 4}).encode()
    for path, method, body, headers, expected in (
            ("state", "GET", None, bearer, 200),
            ("antenna", "POST", pick, dict(bearer, **JSON), 200),  # a script's change: no Origin
            ("antenna", "POST", pick, dict(bearer, Origin="http://evil.example", **JSON), 403),
            ("state", "GET", None, {"Authorization": "Bearer " + "0" * 64}, 401),
            ("state", "GET", None, session, 200)):
        assert request(path, method, body, headers)[0] == expected, (path, headers)
    h.eventually(lambda: service.journal_text().endswith("antenna=4 Ant #4\n"), "the token's pick")

    assert kelvane("web-token", tokens, "--remove", "script")[0] == 0
    assert request("state", headers=bearer)[0] == 401
    assert request("logout", "POST", b"{}", dict(session, **JSON))[0] == 200
    assert request("state", headers=session)[0] == 401

    # A new password on SIGHUP ends every session; the old password is refused.
    session = cookie_of("right")
    assert kelvane("web-password", password, stdin=b"new\n")[0] == 0
    service.proc.send_signal(signal.SIGHUP)
    h.eventually(lambda: "every session has ended" in log_text(), "the console restarted")
    assert request("state", headers=session)[0] == 401
    assert login("right")[0] == 401
    session = cookie_of("new")

    config(b"web-token-file = " + tokens.encode(), b"source = rigctld:h\xe9te:4532")
    service.proc.send_signal(signal.SIGHUP)
    h.eventually(lambda: 'line 2: --source "rigctld:h\\xE9te:4532": not UTF-8 text; keeping' in log_text(),
                 "the reload refused")
    assert service.proc.poll() is None and request("state", headers=session)[0] == 200
    assert service.stop() == 0
    print("auth checks passed")
finally:
    if service and service.proc.poll() is None:
        service.stop()
    rig.stop()
