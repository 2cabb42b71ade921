"""The real service behind the real rigctld, and headless Chromium, for the
browser check of the web console and for scripts/bench-web.sh."""
import atexit
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"


def have_browser():
    try:
        import selenium  # noqa: F401
    except ImportError:
        return False
    return os.path.exists(CHROMIUM) and os.path.exists(DRIVER)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def eventually(check, what, timeout=10.0):
    """Polls `check` until it is true, within a bound."""
    end = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("never: " + what)
        time.sleep(0.02)


class Rig:
    """rigctld -m 1 -P RIG: a dummy rig whose frequency and PTT are set with F and T."""

    def __init__(self):
        self.port = free_port()
        self.proc = subprocess.Popen(["rigctld", "-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t", str(self.port)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.sock = eventually(self._connect, "rigctld listening")
        self.reader = self.sock.makefile("r")

    def _connect(self):
        try:
            return socket.create_connection(("127.0.0.1", self.port), timeout=5)
        except OSError:
            return None

    def ask(self, command):
        self.sock.sendall((command + "\n").encode())
        reply = self.reader.readline().strip()
        assert reply == "RPRT 0", (command, reply)

    def stop(self):
        self.sock.close()
        self.proc.terminate()
        self.proc.wait(timeout=10)


class Service:
    """kelvane following `rig`, its console on a free loopback port, its state file in `runtime`."""

    def __init__(self, program, workdir, rig, settings, extra=(), poll=100):
        self.program, self.workdir, self.settings = program, workdir, settings
        self.runtime = os.path.join(workdir, "run")
        os.makedirs(self.runtime, exist_ok=True)
        self.journal = os.path.join(workdir, "journal.log")
        self.log = os.path.join(workdir, "service.log")
        self.env = dict(os.environ, RUNTIME_DIRECTORY=self.runtime)
        self.web_port = free_port()
        args = [program, "--settings", settings, "--rigctld", "127.0.0.1:%d" % rig.port, "--poll", str(poll),
                "--output", "journal:" + self.journal, "--web", "127.0.0.1:%d" % self.web_port] + list(extra)
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=open(self.log, "w"), env=self.env)
        found = eventually(lambda: re.search(r"web console at (\S+?/)(,|\n)", self.log_text()), "the console up")
        self.url = found.group(1)

    def log_text(self):
        with open(self.log) as f:
            return f.read()

    def journal_text(self):
        try:
            with open(self.journal) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def run(self, *args, stdin=None):
        """kelvane ARGS with the service's environment: (exit status, output)."""
        done = subprocess.run([self.program] + list(args), input=stdin, capture_output=True, text=True, env=self.env)
        return done.returncode, done.stdout + done.stderr

    def stop(self):
        self.proc.terminate()
        return self.proc.wait(timeout=10)


def chromium(width=412, height=1400):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service as DriverService
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    profile = tempfile.mkdtemp(prefix="kelvane-chromium-")
    atexit.register(shutil.rmtree, profile, True)
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height)):
        options.add_argument(flag)
    return webdriver.Chrome(service=DriverService(DRIVER), options=options)


def peak_rss_kib(pid):
    """VmHWM: the most the process has held at once, in KiB."""
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


def header_flood(port, connections=4, limit=24 << 20):
    """Sends endless `X-n: y` header lines on each connection, at most `limit`
    bytes each, until the server ends it. Returns the bytes each got through
    and whether each ended before its limit."""
    import select
    socks = [socket.create_connection(("127.0.0.1", port)) for _ in range(connections)]
    for s in socks:
        s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
        s.setblocking(False)
    line = b"".join(b"X-%d: y\r\n" % i for i in range(4096))
    sent, ended = [0] * connections, [False] * connections
    while not all(ended[i] or sent[i] >= limit for i in range(connections)):
        live = [s for i, s in enumerate(socks) if not ended[i] and sent[i] < limit]
        readable, writable, _ = select.select(live, live, [], 10)
        if not readable and not writable:
            break
        for s in live:
            i = socks.index(s)
            try:
                if s in readable and not s.recv(65536):
                    ended[i] = True
                elif s in writable:
                    sent[i] += s.send(line)
            except OSError:
                ended[i] = True
    for s in socks:
        s.close()
    return sent, ended


def idle_connections(port, count, source="127.0.0.2"):
    """`count` connections from `source` that never send a byte (the caller closes them)."""
    import resource
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, count + 256)), hard))
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.bind((source, 0))
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        socks.append(s)
    return socks


def open_fds(pid):
    return len(os.listdir("/proc/%d/fd" % pid))
