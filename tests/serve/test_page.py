"""The page of `tallow serve` in headless Chromium (Debian's chromium and
chromium-driver, driven by Selenium): it loads with nothing from outside, a
demo case typed into the form shows its group code and its trace, pasted
lines show their results, and a screenshot is written to the build."""
import json
import subprocess

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from conftest import BINARY_DIR, DEMO_INPUT, DEMO_TABLES, PROGRAM, Server

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--window-size=1400,1100"]


@pytest.fixture
def browser(tmp_path):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={tmp_path / 'profile'}"]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=DriverService("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(30)
    yield driver
    driver.quit()


def batch_record(line):
    done = subprocess.run([str(PROGRAM), "group", "--tables", str(DEMO_TABLES), "--in", "-",
                           "--out", "-", "--format", "jsonl", "--quiet"],
                          input=(line + "\n").encode("latin-1"), capture_output=True, check=True)
    return json.loads(done.stdout)


def test_page_groups_a_typed_case_and_shows_its_trace(browser, tmp_path):
    server = Server(tmp_path, DEMO_TABLES, "--quiet")
    try:
        base = f"http://127.0.0.1:{server.port}"
        browser.get(base + "/")
        assert browser.title.startswith("Tallow")
        wait = WebDriverWait(browser, 20)

        # Line 2 of the demo, typed field by field.
        demo = DEMO_INPUT.read_text("latin-1").splitlines()[1]
        fields = {"caseIdentifier": demo[0:8], "birthDate": demo[8:14], "caseDate": demo[21:29],
                  "lengthOfStay": demo[29:32].strip(), "dischargeStatus": demo[32],
                  "diagnoses": " ".join(demo[33 + 5 * i:38 + 5 * i].strip() for i in range(10)).strip(),
                  "procedures": " ".join(demo[83 + 5 * i:88 + 5 * i].strip() for i in range(20)).strip()}
        for name, value in fields.items():
            browser.find_element(By.ID, name).send_keys(value)
        Select(browser.find_element(By.ID, "sexDigit")).select_by_value(demo[14])
        browser.find_element(By.ID, "group-case").click()
        wait.until(lambda d: d.find_element(By.ID, "groupCode").text != "")

        # The form wrote the case line the batch reads (the unread positions
        # 15-20 are blanks), and the page shows what the batch gives for it.
        built = browser.find_element(By.ID, "built-line").get_attribute("textContent")
        assert built == demo[:15] + " " * 6 + demo[21:188]
        expected = batch_record(demo[:15] + " " * 6 + demo[21:188])
        assert browser.find_element(By.ID, "groupCode").text == expected["groupCode"] != "000000"
        rows = {r.get_attribute("data-field"): r.find_elements(By.TAG_NAME, "td")
                for r in browser.find_elements(By.CSS_SELECTOR, "#fields tbody tr")}
        for key in ("mdc", "baseDrg", "finalDrg", "diagnosisLevels"):
            assert rows[key][1].text == str(expected[key])
            assert rows[key][2].text != ""  # its meaning

        # The trace is a tree whose branches open and close.
        trace = browser.find_element(By.ID, "trace")
        assert "passes" in trace.text and "refinedCode" in trace.text
        passes = [s for s in trace.find_elements(By.CSS_SELECTOR, "details > summary")
                  if s.text.startswith("passes")][0]
        branch = passes.find_element(By.XPATH, "..")
        was_open = branch.get_attribute("open") is not None
        passes.click()
        assert (branch.get_attribute("open") is not None) != was_open
        browser.execute_script("window.scrollTo(0, 0)")
        browser.save_screenshot(str(BINARY_DIR / "serve-page.png"))

        # Pasted lines: one row per line, the first one's fields shown.
        browser.find_element(By.ID, "tab-lines").click()
        lines = DEMO_INPUT.read_text("latin-1").splitlines()[:3]
        browser.find_element(By.ID, "lines").send_keys("\n".join(lines))
        browser.find_element(By.ID, "group-lines").click()
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#lines-table tbody tr")) == 3)
        codes = [r.find_elements(By.TAG_NAME, "td")[4].text
                 for r in browser.find_elements(By.CSS_SELECTOR, "#lines-table tbody tr")]
        assert codes == [batch_record(l)["groupCode"] for l in lines]

        # Nothing came from anywhere but the server itself.
        resources = browser.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)")
        assert resources and all(r.startswith(base + "/") for r in resources), resources
    finally:
        status, log = server.stop()
    assert status == 0, log
