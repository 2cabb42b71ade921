"""The console's page in headless Chromium against web_page_demo: it shows the
state, a pick clears Auto, a refused value is shown beside its field, a saved
name reaches the page, and transmit shows a held pick; with two radios a column
each, the one blocked says so and cannot pick the other's antenna. Screenshots
go to OUTDIR.
Usage: web_page_check.py DEMO OUTDIR   (exit 77: no browser here)"""
import json
import os
import subprocess
import sys
import tempfile
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.common.exceptions import StaleElementReferenceException
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    sys.exit(77)
if not os.path.exists("/usr/bin/chromium") or not os.path.exists("/usr/bin/chromedriver"):
    sys.exit(77)

demo = subprocess.Popen([sys.argv[1]], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
two = subprocess.Popen([sys.argv[1], "two"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
outdir = sys.argv[2]
os.makedirs(outdir, exist_ok=True)
profile = tempfile.TemporaryDirectory()
driver = None
try:
    url = "http://127.0.0.1:%s/" % demo.stdout.readline().strip()
    page = urllib.request.urlopen(url).read()
    assert len(page) < 60_000, len(page)

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile.name, "--window-size=412,1400"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.get(url)
    wait = WebDriverWait(driver, 10, ignored_exceptions=[StaleElementReferenceException])
    text = lambda i: driver.find_element(By.ID, i).text
    until = lambda check: wait.until(lambda d: check())

    def service(command):
        demo.stdin.write(command + "\n")
        demo.stdin.flush()
        assert demo.stdout.readline().strip() == "ok"

    until(lambda: "14.074000 MHz" in text("r1-freq") and driver.find_element(By.ID, "f-antennas[1].name"))
    assert "5 20m" in text("r1-band"), text("r1-band")
    assert driver.find_element(By.ID, "r1-auto").is_selected()
    # One radio: its card fills the width, with nothing of sharing on it.
    assert driver.find_element(By.ID, "r1-card").rect["width"] == driver.find_element(By.ID, "radios").rect["width"]
    assert text("r1-blocked") + text("r1-alt") == "" and not driver.find_elements(By.ID, "r2-card")

    driver.find_element(By.ID, "r1-pick-4").click()
    until(lambda: text("r1-antenna").startswith("4 ") and not driver.find_element(By.ID, "r1-auto").is_selected())
    driver.find_element(By.ID, "r1-auto").click()
    until(lambda: driver.find_element(By.ID, "r1-auto").is_selected())

    value = driver.find_element(By.ID, "f-antennas[1].value")
    value.clear()
    value.send_keys("-5")
    name = driver.find_element(By.ID, "f-antennas[2].name")
    name.clear()
    name.send_keys("Vertical")
    driver.find_element(By.ID, "save").click()
    until(lambda: "0 to 4294967295" in text("e-antennas[1].value"))
    assert "Not saved" in text("notice")
    driver.execute_script("document.getElementById('antennas').scrollIntoView()")
    driver.save_screenshot(os.path.join(outdir, "refused.png"))

    value.clear()
    value.send_keys("1")
    driver.find_element(By.ID, "save").click()
    until(lambda: text("notice") == "Saved." and "Vertical" in text("r1-pick-2"))

    service("tx 1")
    until(lambda: driver.find_element(By.ID, "r1-tx").is_displayed())
    driver.find_element(By.ID, "r1-pick-2").click()
    until(lambda: "waits for receive" in text("r1-held"))
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(outdir, "phone-transmitting.png"))
    service("tx 0")
    until(lambda: text("r1-held") == "" and text("r1-antenna").startswith("2 Vertical"))

    # A save made elsewhere meanwhile: this page's save is refused and offers a reload.
    tables = urllib.request.urlopen(url + "api/tables")
    edited = json.loads(tables.read())
    edited["antennas"][2]["name"] = "Loop"
    urllib.request.urlopen(urllib.request.Request(url + "api/tables", json.dumps(edited).encode(), method="PUT", headers={
        "Content-Type": "application/json", "Origin": url[:-1], "If-Match": tables.headers["ETag"]}))
    driver.find_element(By.ID, "save").click()
    until(lambda: driver.find_element(By.ID, "reload-offer")).click()
    until(lambda: driver.find_element(By.ID, "f-antennas[3].name").get_attribute("value") == "Loop")

    driver.set_window_size(1280, 1000)
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(outdir, "desktop.png"))

    driver.get("http://127.0.0.1:%s/" % two.stdout.readline().strip())
    until(lambda: "blocked by A" in text("r2-blocked"))
    a, b = (driver.find_element(By.ID, "r%d-card" % i).rect for i in (1, 2))
    assert a["y"] == b["y"] and a["x"] + a["width"] < b["x"], (a, b)
    taken = driver.find_element(By.ID, "r2-pick-1")
    assert not taken.is_enabled() and "held by A" in taken.text and taken.get_attribute("title") == "held by A"
    driver.save_screenshot(os.path.join(outdir, "two-desktop.png"))
    # A page that had not heard yet: the server refuses and the page says why.
    driver.execute_script("document.getElementById('r2-pick-1').disabled = false")
    taken.click()
    until(lambda: "held by radio A" in text("r2-refused"))
    driver.find_element(By.ID, "r1-pick-3").click()
    until(lambda: "alternate" in text("r1-alt") and "next receive poll" in text("r2-blocked") and taken.is_enabled()
          and text("r2-refused") == "")
    driver.set_window_size(412, 1400)
    until(lambda: driver.find_element(By.ID, "r2-card").rect["y"] > driver.find_element(By.ID, "r1-card").rect["y"])
    driver.save_screenshot(os.path.join(outdir, "two-phone.png"))
    print("page checks passed; screenshots in", outdir)
finally:
    if driver:
        driver.quit()
    for process in (demo, two):
        process.stdin.close()
        process.wait(timeout=10)
