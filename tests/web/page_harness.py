"""The page in headless Chromium, as the page's tests and benchmark drive it.

Debian's chromium and chromium-driver through Debian's python3-selenium: each Page is a browser of
its own with a fresh profile, the page served from http://localhost by a server of its own (a
secure context, as https would be), the file chooser intercepted so that a test can pick a file,
and downloads kept in a folder of the test's. With a stand-in for Web MIDI, the test's simulated
module and the stand-in (tests/web/webmidi_stand_in.js) are put in every document before the
page's own scripts.

Environment: KFW_WEB_SITE (the folder of index.html), KFW_WEB_TEST_MODULE (the test module's
factory, kfw_web_test_module.js), KFW_WEB_STAND_IN (webmidi_stand_in.js).
"""

import functools
import http.server
import json
import os
import shutil
import tempfile
import threading
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
except ImportError as missing:
    raise SystemExit(f"{missing}: the page's tests need Debian's python3-selenium, run by "
                     "/usr/bin/python3 (scripts/install-deps.sh --web)")

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

# Control IDs of the windows' templates (ui/logic/dialog_templates.h, midi/ports.h).
CONNECT, UPDATE, FIND_IMAGE, EXIT = 1000, 1001, 3, 4
TRANSMIT_TO, RECEIVE_FROM, IMAGE_NAME = 1003, 1004, 1005
SERIAL, VERSION, PRODUCT = 1009, 1010, 1011
SIMULATED = "Simulated QX-412"


def required(variable):
    value = os.environ.get(variable)
    if not value:
        raise RuntimeError(f"{variable} is not set: run the page's tests through ctest")
    return value


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *arguments):
        pass


class Server:
    """The site folder over http://localhost, on a port of its own."""

    def __init__(self, folder):
        handler = functools.partial(QuietHandler, directory=folder)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        self.url = f"http://localhost:{self.httpd.server_address[1]}/index.html"

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Page:
    """One browser with the page in it."""

    def __init__(self, query="", stand_in=None, timer_source=None, throttled=False,
                 window=(1000, 900), extra_script=""):
        for program in (CHROMIUM, CHROMEDRIVER):
            if not os.access(program, os.X_OK):
                raise SystemExit(f"{program} is missing: install chromium and chromium-driver "
                                 "(scripts/install-deps.sh --web)")
        self.profile = tempfile.mkdtemp(prefix="kfw-chromium-")
        self.downloads = os.path.join(self.profile, "downloads")
        os.makedirs(self.downloads)
        self.server = Server(required("KFW_WEB_SITE"))
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for argument in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                         "--no-first-run", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync",
                         f"--user-data-dir={self.profile}",
                         f"--window-size={window[0]},{window[1]}"]:
            options.add_argument(argument)
        if throttled:
            # ChromeDriver turns off the throttling of hidden tabs by default; a measurement of
            # what a hidden tab does needs it on, as in a browser people use.
            options.add_experimental_option(
                "excludeSwitches",
                ["disable-background-timer-throttling", "disable-backgrounding-occluded-windows"])
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except Exception:
            self.server.stop()
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.driver.execute_cdp_cmd("Page.setInterceptFileChooserDialog", {"enabled": True})
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})
        before = extra_script
        if timer_source:
            before += f"window.kfwPageTimerSource = {json.dumps(timer_source)};\n"
        if stand_in is not None:
            before += f"window.kfwStandInSetup = {json.dumps(stand_in)};\n"
            with open(required("KFW_WEB_TEST_MODULE")) as module, \
                    open(required("KFW_WEB_STAND_IN")) as standin:
                before += module.read() + "\n" + standin.read()
        if before:
            self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                        {"source": before})
        self.open(query)

    def close(self):
        try:
            self.driver.quit()
        finally:
            self.server.stop()
            shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    # --- The page -------------------------------------------------------------------------------

    def open(self, query=""):
        self.driver.get(self.server.url + query)
        self.wait(lambda: self.state() != "loading", 30, "the page to load")

    def reload(self):
        self.driver.refresh()
        self.wait(lambda: self.state() != "loading", 30, "the page to load again")

    def script(self, code, *arguments):
        return self.driver.execute_script(code, *arguments)

    def state(self):
        return self.script("return document.documentElement.dataset.state")

    def wait(self, condition, seconds, what):
        end = time.monotonic() + seconds
        while True:
            value = condition()
            if value:
                return value
            if time.monotonic() > end:
                raise AssertionError(f"waited {seconds} s for {what}; the page said: "
                                     f"{self.notices()} {self.console()}")
            time.sleep(0.02)

    def element(self, id, window="main"):
        return self.driver.find_element(By.ID, f"{window}-{id}")

    def click(self, id):
        self.element(id).click()

    def choose(self, list_id, text):
        Select(self.element(list_id)).select_by_visible_text(text)

    def entries(self, list_id):
        return [option.text for option in Select(self.element(list_id)).options]

    def selected(self, list_id):
        return self.script("return arguments[0].selectedIndex", self.element(list_id))

    def text(self, id):
        element = self.element(id)
        return element.get_attribute("value") if element.tag_name == "input" else element.text

    def enabled(self, id):
        return self.element(id).is_enabled()

    def notices(self):
        return [notice.text for notice in self.driver.find_elements(By.CSS_SELECTOR, "#notices p")]

    def console(self):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if "favicon" not in entry["message"]]

    # --- The boxes and the progress window ------------------------------------------------------

    def box(self):
        """(kind, caption, text, buttons) of the box on the page, or None."""
        return self.script("""
            const box = document.getElementById("box");
            if (!box.open) return null;
            return [box.dataset.kind, document.getElementById("box-caption").textContent,
                    document.getElementById("box-text").textContent,
                    [...box.querySelectorAll(".box-buttons button")].map((b) => b.textContent)];
        """)

    def wait_box(self, seconds=30):
        return self.wait(self.box, seconds, "a box")

    def boxes_shown(self):
        return self.script("return Number(document.getElementById('box').dataset.shown || 0)")

    def answer(self, button):
        """Presses a button of the box, and waits until it has closed (or the next is shown)."""
        shown = self.boxes_shown()
        for element in self.driver.find_elements(By.CSS_SELECTOR, "#box .box-buttons button"):
            if element.text == button:
                element.click()
                self.wait(lambda: not self.box() or self.boxes_shown() != shown, 10,
                          "the box to close")
                return
        raise AssertionError(f"the box has no button {button}: {self.box()}")

    def expect_box(self, test, kind, caption, text, seconds=30):
        shown = self.wait_box(seconds)
        test.assertEqual(shown[:3], [kind, caption, text])
        return shown

    def progress(self):
        """(open, caption, percent) of the progress window."""
        return self.script("""
            const dialog = document.getElementById("progress-window");
            return [dialog.open, document.getElementById("progress-1012").textContent,
                    document.getElementById("progress-1013").value];
        """)

    # --- What a user does -----------------------------------------------------------------------

    def connect(self, port=SIMULATED):
        self.choose(TRANSMIT_TO, port)
        self.choose(RECEIVE_FROM, port)
        self.wait(lambda: self.enabled(CONNECT), 10, "Connect to be enabled")
        self.click(CONNECT)

    def pick(self, path):
        """Find image, and the file chosen in the browser's file chooser."""
        self.click(FIND_IMAGE)
        self.wait(lambda: self.script(
            "return document.getElementById('file-chooser').onchange !== null"), 10,
            "the file chooser")
        self.driver.find_element(By.ID, "file-chooser").send_keys(path)

    def screenshot(self, element_id, path):
        self.driver.find_element(By.ID, element_id).screenshot(path)


def images_folder():
    return os.path.join(os.path.dirname(required("KFW_WEB_TEST_MODULE")), "images")
