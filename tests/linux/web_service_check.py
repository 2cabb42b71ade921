"""The web console of the real service, following the real rigctld, in headless
Chromium: band, manual pick and Auto, a saved and a refused edit, transmit,
the password, and `kelvane status`. Screenshots go to OUTDIR.
Usage: web_service_check.py KELVANE OUTDIR   (exit 77: no browser here)"""
import json
import os
import sys
import tempfile
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kelvane_harness as h  # noqa: E402

if not h.have_browser():
    sys.exit(77)
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.common.exceptions import ElementNotInteractableException, StaleElementReferenceException  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

program, outdir = sys.argv[1], sys.argv[2]
os.makedirs(outdir, exist_ok=True)
work = tempfile.TemporaryDirectory()
settings = os.path.join(work.name, "Kelvaneer12.ini")


def request(url, method="GET", body=None, headers=None):
    try:
        with urllib.request.urlopen(urllib.request.Request(url, body, method=method, headers=headers or {})) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def file_bytes():
    with open(settings, "rb") as f:
        return f.read()


rig = h.Rig()
service = driver = None
try:
    for words in (["assign", "5", "3"], ["assign", "3", "2"]):
        assert h.subprocess.run([program, "--settings", settings, "settings"] + words, stdout=h.subprocess.DEVNULL).returncode == 0
    service = h.Service(program, work.name, rig, settings)
    driver = h.chromium()
    driver.get(service.url)
    text = lambda i: driver.find_element(By.ID, i).text  # noqa: E731
    checked = lambda i: driver.find_element(By.ID, i).is_selected()  # noqa: E731
    wait = WebDriverWait(driver, 10, ignored_exceptions=[StaleElementReferenceException])
    until = lambda check: wait.until(lambda d: check())  # noqa: E731

    rig.ask("F 14074000")
    until(lambda: text("r1-band") == "5 20m" and text("r1-antenna").startswith("3 Ant #3"))
    assert checked("r1-auto")
    status, out = service.run("status")
    assert status == 0 and "band 5 (20m), antenna 3" in out, out

    driver.find_element(By.ID, "r1-pick-4").click()
    until(lambda: text("r1-antenna").startswith("4 ") and not checked("r1-auto"))
    assert service.journal_text().endswith("byte=0x08 antenna=4 Ant #4\n"), service.journal_text()
    assert "antenna 4 (Ant #4) picked by hand; Auto off" in service.log_text()
    rig.ask("F 7100000")  # Auto off: the band changes, the antenna stays
    until(lambda: text("r1-band") == "3 40m")
    assert text("r1-antenna").startswith("4 ")
    driver.find_element(By.ID, "r1-auto").click()
    until(lambda: checked("r1-auto") and text("r1-antenna").startswith("2 Ant #2"))

    before = file_bytes()
    for field, typed, rule in (("antennas[1].value", "-5", "0 to 4294967295"), ("bands[2].name", "", "not empty")):
        box = driver.find_element(By.ID, "f-" + field)
        box.clear()
        box.send_keys(typed)
        driver.find_element(By.ID, "save").click()
        until(lambda: rule in text("e-" + field))
        assert "Not saved" in text("notice") and file_bytes() == before
        driver.find_element(By.ID, "reload").click()
        until(lambda: text("notice") == "Reloaded.")

    name = driver.find_element(By.ID, "f-antennas[2].name")
    name.clear()
    name.send_keys("Vertical")
    driver.find_element(By.ID, "save").click()
    until(lambda: text("notice") == "Saved." and "Vertical" in text("r1-pick-2"))
    until(lambda: text("r1-antenna") == "2 Vertical (0x02)")
    assert "   2  Vertical " in service.run("--settings", settings, "settings", "show")[1]

    # An edit made by the settings command meanwhile is not overwritten: the save offers a reload.
    assert service.run("--settings", settings, "settings", "antenna", "3", "--name", "Loop")[0] == 0
    before = file_bytes()
    driver.find_element(By.ID, "save").click()
    until(lambda: driver.find_element(By.ID, "reload-offer")).click()
    until(lambda: driver.find_element(By.ID, "f-antennas[3].name").get_attribute("value") == "Loop")
    assert file_bytes() == before

    rig.ask("T 1")
    until(lambda: driver.find_element(By.ID, "r1-tx").is_displayed())
    driver.find_element(By.ID, "r1-pick-1").click()
    until(lambda: "Antenna 1 Ant #1 waits for receive" in text("r1-held"))
    assert "antenna=1" not in service.journal_text()
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(outdir, "phone-transmitting.png"))
    rig.ask("T 0")
    until(lambda: text("r1-held") == "" and text("r1-antenna").startswith("1 Ant #1"))
    driver.find_element(By.ID, "r1-auto").click()
    until(lambda: text("r1-antenna") == "2 Vertical (0x02)")

    driver.set_window_size(1280, 1000)
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(outdir, "desktop.png"))
    driver.quit()
    driver = None

    state_file = os.path.join(service.runtime, "state.json")
    assert service.stop() == 0 and not os.path.exists(state_file)
    status, out = service.run("status")
    assert status == 3 and "no service is running" in out, out
    with open(state_file, "w") as f:  # left by a service that hangs: this very process, 60 s ago
        json.dump({"radios": [], "pid": os.getpid(), "written": int(time.time() * 1000) - 60000}, f)
    status, out = service.run("status", "--json")
    assert status == 4 and json.loads(out)["stale"], out
    os.remove(state_file)

    # Beyond loopback only with a password (a documentation address: never bound).
    refused = h.subprocess.run([program, "--settings", settings, "--web", "192.0.2.1:8080"], capture_output=True,
                               text=True, timeout=10, env=service.env)
    assert refused.returncode == 1 and "--web-password-file" in refused.stderr, refused.stderr
    assert not os.path.exists(state_file)

    password = os.path.join(work.name, "password")
    assert service.run("web-password", password, stdin="correct horse\n")[0] == 0
    service = h.Service(program, work.name, rig, settings, ["--web-password-file", password])
    api = service.url + "api/"
    assert request(api + "state")[0] == 401
    driver = h.chromium()
    driver.get(service.url)
    # A login answered between log_in's look and its typing hides the form: try again.
    wait = WebDriverWait(driver, 10, ignored_exceptions=[StaleElementReferenceException, ElementNotInteractableException])
    until(lambda: driver.find_element(By.ID, "login").is_displayed())
    driver.find_element(By.ID, "login-password").send_keys("wrong")
    driver.find_element(By.ID, "login-submit").click()
    until(lambda: text("login-error") != "")

    def log_in():  # failed logins are slowed down: try until the wait is over
        if driver.find_element(By.ID, "login").is_displayed():
            box = driver.find_element(By.ID, "login-password")
            box.clear()
            box.send_keys("correct horse")
            driver.find_element(By.ID, "login-submit").click()
        return not driver.find_element(By.ID, "login").is_displayed() and text("r1-band") == "3 40m"
    until(log_in)
    cookie = "kelvane_session=" + driver.get_cookie("kelvane_session")["value"]
    origin = service.url.rstrip("/")
    pick = json.dumps({"antenna": 5}).encode()
    for headers, expected in (({"Origin": "http://evil.example"}, 403), ({"Origin": origin}, 200)):
        headers.update({"Content-Type": "application/json", "Cookie": cookie})
        assert request(api + "antenna", "POST", pick, headers)[0] == expected, headers
    until(lambda: text("r1-antenna").startswith("5 "))
    print("service checks passed; screenshots in", outdir)
finally:
    if driver:
        driver.quit()
    if service and service.proc.poll() is None:
        service.stop()
    rig.stop()
