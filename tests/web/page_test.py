#!/usr/bin/python3
"""The page in headless Chromium: the window's session as a user runs it, and the page's Web MIDI.

On the in-page simulated module ("?simulator"): whole updates in both modes, Cancel during the
transfer, a bad image's box, the same-version question answered each way, the port choice
remembered over a reload, the saved trace, Exit, the keyboard, the labels and the page at 200 %
zoom. Through the page's Web MIDI backend, against a stand-in for the browser's Web MIDI whose
ports lead to the product's simulated module compiled for the test: a whole update, SysEx
delivered in 1 KiB pieces, both ports unplugged mid-transfer, MIDI refused, no Web MIDI at all.
Writes web-main-window.png (the page connected to the simulated module), web-progress-window.png
(the progress window during an update) and web-page.png (the whole page) into KFW_WEB_SCREENSHOTS.

  page_test.py [unittest arguments]     e.g. page_test.py PageTest.test_cancel_during_transfer
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from page_harness import (CONNECT, EXIT, FIND_IMAGE, IMAGE_NAME, PRODUCT, RECEIVE_FROM,  # noqa: E402
                          SERIAL, SIMULATED, TRANSMIT_TO, UPDATE, VERSION, Page, images_folder)

from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

ERROR = "Korvex Firmware Update Utility Error"
QUESTION = "Korvex Firmware Update Utility"
SUCCESS = "Firmware Firmware Update Utility"
SAME_VERSION = ("The firmware image in the hardware is verified good and the version # matches "
                "the update file. Updating with this image file is unnecessary and will change "
                "nothing! Update anyway?")
STAND_IN_PORT = "UM-ONE MIDI 1"

# Keeps the page's screen wake locks (headless Chromium grants them), to see that one was held.
KEEP_WAKE_LOCKS = """
window.kfwWakeLocks = [];
if (navigator.wakeLock) {
  const request = navigator.wakeLock.request.bind(navigator.wakeLock);
  Object.defineProperty(navigator.wakeLock, "request", {value: async (type) => {
    const lock = await request(type);
    window.kfwWakeLocks.push(lock);
    return lock;
  }});
}
"""


def image(name):
    return os.path.join(images_folder(), name)


def screenshot_path(name):
    folder = os.environ.get("KFW_WEB_SCREENSHOTS", ".")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


class PageTest(unittest.TestCase):
    def page(self, query="?simulator", **options):
        page = Page(query, **options)
        self.addCleanup(page.close)
        return page

    def connected(self, page, port=SIMULATED):
        page.connect(port)
        page.expect_box(self, "success", SUCCESS, "Connection established!")
        page.answer("OK")
        self.assertEqual([page.text(PRODUCT), page.text(SERIAL), page.text(VERSION)],
                         ["QX-412", "4b5804120001", "1.2"])
        self.assertTrue(page.enabled(FIND_IMAGE))

    def picked(self, page, name):
        page.pick(image(name))
        page.wait(lambda: page.text(IMAGE_NAME) == name, 10, "the name in the field")

    def update(self, page, name="update-4k.kfw", progress_picture=None):
        self.picked(page, name)
        page.wait(lambda: page.enabled(UPDATE), 10, "Update to be enabled")
        page.click(UPDATE)
        if progress_picture:
            page.wait(lambda: page.progress()[1] == "Updating firmware area..." and
                      page.progress()[2] >= 25, 60, "the blocks to be under way")
            page.screenshot("progress-window", screenshot_path(progress_picture))

    # --- On the in-page simulated module --------------------------------------------------------

    def whole_update(self, query, pictures):
        page = self.page(query, extra_script=KEEP_WAKE_LOCKS)
        self.assertEqual(page.entries(TRANSMIT_TO), ["(Choose a MIDI port)", SIMULATED])
        self.assertEqual(page.entries(RECEIVE_FROM), ["(Choose a MIDI port)", SIMULATED])
        self.assertEqual(page.selected(TRANSMIT_TO), 0)
        self.assertFalse(page.enabled(CONNECT) or page.enabled(FIND_IMAGE) or page.enabled(UPDATE))
        self.connected(page)
        self.update(page, progress_picture="web-progress-window.png" if pictures else None)
        page.expect_box(self, "success", SUCCESS, "Firmware was successfully updated.", 120)
        page.answer("OK")
        self.assertEqual(page.state(), "ready")
        self.assertEqual(page.text(VERSION), "1.2")
        self.assertTrue(page.enabled(UPDATE))
        # The screen was kept awake while the procedures ran, and is let go once they have.
        locks = page.script("return kfwWakeLocks.map((lock) => [lock.type, lock.released])")
        self.assertGreaterEqual(len(locks), 2)
        self.assertEqual(set(map(tuple, locks)), {("screen", True)})
        # Nothing was fetched but the page itself.
        self.assertEqual(page.script("return performance.getEntriesByType('resource').map("
                                     "(entry) => entry.name)"), [])
        # The waits' timers are a worker's, which a hidden tab does not slow.
        self.assertEqual(page.script("return document.documentElement.dataset.timers"), "worker")
        if pictures:
            page.screenshot("main-window", screenshot_path("web-main-window.png"))
            page.driver.save_screenshot(screenshot_path("web-page.png"))
        return page

    def test_whole_update_normal_mode(self):
        self.whole_update("?simulator", pictures=True)

    def test_whole_update_fast_mode(self):
        page = self.whole_update("?simulator&fast", pictures=False)
        self.assertTrue(page.script("return document.forms.settings.elements.fast.checked"))

    def test_a_setting_starts_the_page_afresh_with_it(self):
        page = self.page("?simulator")
        self.assertFalse(page.script("return document.forms.settings.elements.fast.checked"))
        page.driver.find_element(By.CSS_SELECTOR, "#settings input[name=fast]").click()
        page.wait(lambda: page.script("return location.search") == "?simulator&fast", 10,
                  "the page to start afresh")
        page.wait(lambda: page.state() == "ready", 30, "the page to be ready")
        self.assertTrue(page.script("return document.forms.settings.elements.fast.checked"))
        self.assertEqual(page.entries(TRANSMIT_TO), ["(Choose a MIDI port)", SIMULATED])

    def test_cancel_during_transfer(self):
        page = self.page()
        self.connected(page)
        self.update(page)
        page.wait(lambda: page.progress()[1] == "Updating firmware area..." and
                  page.progress()[2] > 0, 60, "the blocks to be under way")
        self.assertEqual(page.state(), "busy")
        page.element(1011, "progress").click()
        page.expect_box(self, "error", ERROR, "Operation canceled")
        self.assertFalse(page.progress()[0])
        page.answer("OK")
        # The firmware area was erased: the version shown is no longer what the module holds.
        self.assertEqual(page.text(VERSION), "")
        self.assertEqual(page.state(), "ready")

    def test_bad_image_is_refused_with_its_box(self):
        page = self.page()
        self.connected(page)
        page.pick(image("bad-crc.kfw"))
        page.expect_box(self, "error", ERROR, "Update file CRC error")
        page.answer("OK")
        self.assertEqual(page.text(IMAGE_NAME), "bad-crc.kfw")
        self.assertFalse(page.enabled(UPDATE))

    def test_same_version_question_answered_yes_and_no(self):
        for answer, then in [("No", ["error", ERROR, "Operation canceled"]),
                             ("Yes", ["success", SUCCESS, "Firmware was successfully updated."])]:
            with self.subTest(answer=answer):
                page = self.page()
                self.connected(page)
                self.update(page, "same-version.kfw")
                shown = page.expect_box(self, "question", QUESTION, SAME_VERSION, 60)
                self.assertEqual(shown[3], ["Yes", "No"])
                self.assertEqual(page.script("return document.activeElement.textContent"), "No")
                page.answer(answer)
                page.expect_box(self, *then, seconds=60)
                page.answer("OK")
                # A No leaves the firmware area as it was.
                self.assertEqual(page.text(VERSION), "1.2")

    def test_port_choice_remembered_after_reload(self):
        page = self.page()
        self.assertEqual(page.script("return localStorage.getItem('kfwupdate.InputBus')"), None)
        page.choose(TRANSMIT_TO, SIMULATED)
        page.choose(RECEIVE_FROM, SIMULATED)
        # Each command saves the positions read at the one before.
        page.element(IMAGE_NAME).click()
        page.wait(lambda: page.script("return localStorage.getItem('kfwupdate.InputBus')") == "1",
                  10, "the choice to be saved")
        self.assertEqual(page.script("return localStorage.getItem('kfwupdate.OutputBus')"), "1")
        page.reload()
        page.wait(lambda: page.state() == "ready", 30, "the page to be ready")
        self.assertEqual([page.selected(TRANSMIT_TO), page.selected(RECEIVE_FROM)], [1, 1])

    def test_trace_saved_as_a_text_file(self):
        page = self.page("?simulator&log")
        self.assertTrue(page.script("return document.forms.settings.elements.log.checked"))
        self.connected(page)
        page.driver.find_element(By.ID, "save-trace").click()
        path = os.path.join(page.downloads, "kfwupdate-trace.txt")
        page.wait(lambda: os.path.exists(path) and os.path.getsize(path) > 0, 20, "the download")
        with open(path) as trace:
            lines = trace.read().splitlines()
        self.assertIn("TX: f0 00 7f 7f 7f 7f 10 02 f7 ", lines)
        self.assertTrue(any(line.startswith("RX: f0 00 00 21 0a ") for line in lines), lines)

    def test_exit_closes_the_ports_and_ends_the_session(self):
        page = self.page()
        self.connected(page)
        page.click(EXIT)
        page.wait(lambda: page.state() == "ended", 10, "the session to end")
        self.assertTrue(any("The session has ended: the MIDI ports are closed." in notice
                            for notice in page.notices()))
        self.assertTrue(page.script("return document.getElementById('main-window').inert"))

    def test_keyboard_labels_and_zoom(self):
        page = self.page()
        # Every list, the field and the three values are named by their labels.
        names = {TRANSMIT_TO: "Transmit to", RECEIVE_FROM: "Receive from",
                 IMAGE_NAME: "Image filename", SERIAL: "Serial #",
                 VERSION: "Current firmware version #", PRODUCT: "Product"}
        for id, label in names.items():
            self.assertEqual(page.script("return [...arguments[0].labels].map((l) => l.textContent)",
                                         page.element(id)), [label])
        # The keyboard alone: Tab goes through the enabled controls in the template's order.
        page.script("document.getElementById('notices').focus(); document.activeElement.blur()")
        focused = []
        for _ in range(4):
            ActionChains(page.driver).send_keys(Keys.TAB).perform()
            focused.append(page.script("return document.activeElement.id"))
        self.assertEqual(focused, ["main-1005", "main-1003", "main-1004", "main-4"])
        for list_id in (TRANSMIT_TO, RECEIVE_FROM):
            page.element(list_id).send_keys(Keys.ARROW_DOWN)
            page.wait(lambda: page.selected(list_id) == 1, 5, "the port chosen by key")
        page.wait(lambda: page.enabled(CONNECT), 10, "Connect to be enabled")
        page.element(CONNECT).send_keys(Keys.ENTER)
        page.expect_box(self, "success", SUCCESS, "Connection established!")
        page.driver.switch_to.active_element.send_keys(Keys.ENTER)
        page.wait(lambda: not page.box(), 10, "the box to close with Enter")
        # Escape in the window is a command, not its end.
        page.element(IMAGE_NAME).send_keys(Keys.ESCAPE)
        self.assertEqual(page.state(), "ready")
        # At 200 %: a 1280-pixel-wide screen shows 640 CSS pixels; the window fits, no text is cut.
        page.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": 640, "height": 800, "deviceScaleFactor": 2,
                                     "mobile": False})
        fits = page.script("""
            const main = document.getElementById("main-window");
            const cut = [...document.querySelectorAll("#main-client > *")].filter(
                (e) => e.scrollWidth > e.clientWidth + 1 || e.scrollHeight > e.clientHeight + 1)
                .map((e) => e.id + " " + e.textContent);
            return [main.getBoundingClientRect().right <= document.documentElement.clientWidth,
                    main.scrollWidth <= main.clientWidth, cut];
        """)
        self.assertEqual(fits, [True, True, []])
        page.driver.save_screenshot(screenshot_path("web-page-200-percent.png"))

    # --- Through the page's Web MIDI backend ----------------------------------------------------

    def stand_in_update(self, **setup):
        page = self.page("?fast", stand_in=setup)
        self.assertEqual(page.entries(TRANSMIT_TO), ["(Choose a MIDI port)", STAND_IN_PORT])
        self.assertEqual(page.entries(RECEIVE_FROM), ["(Choose a MIDI port)", STAND_IN_PORT])
        self.assertEqual(page.notices(), [])
        self.connected(page, STAND_IN_PORT)
        self.update(page)
        page.expect_box(self, "success", SUCCESS, "Firmware was successfully updated.", 120)
        page.answer("OK")
        seen = page.script("return [kfwStandIn.sends, kfwStandIn.notWhole, kfwStandIn.pieces, "
                           "kfwStandIn.programmed(), kfwStandIn.commands(0x15)]")
        sends, not_whole, pieces, programmed, blocks = seen
        self.assertEqual(not_whole, 0)
        self.assertEqual(programmed, 4096)
        # 16 blocks of 256 bytes and the final empty one.
        self.assertEqual(blocks, 17)
        return page, sends, pieces

    def test_webmidi_whole_update(self):
        page, sends, pieces = self.stand_in_update()
        # Every command and every answer went through the backend: one piece for each answer.
        self.assertGreater(sends, 17)
        self.assertGreaterEqual(pieces, 17)

    def test_webmidi_sysex_in_pieces(self):
        # A 3000-byte foreign message before every answer, everything in pieces of 1 KiB.
        page, sends, pieces = self.stand_in_update(piece=1024, foreign=3000)
        self.assertGreaterEqual(pieces, 4 * 17)

    def test_webmidi_port_unplugged_mid_transfer(self):
        page = self.page("?fast", stand_in={"unplugAfterBlocks": 5})
        self.connected(page, STAND_IN_PORT)
        self.update(page)
        page.wait(lambda: len(page.notices()) == 2, 30, "the notices of the unplugged ports")
        self.assertTrue(page.notices()[0].startswith(
            'The MIDI port "UM-ONE MIDI 1" (Receive from) has been unplugged.'))
        self.assertTrue(page.notices()[1].startswith(
            'The MIDI port "UM-ONE MIDI 1" (Transmit to) has been unplugged.'))
        # The block's answer never comes: the wait ends at its time-out (10 s and the fast mode's
        # 0.2 s), never in a hang.
        page.expect_box(self, "error", ERROR, "MIDI Response timeout", 30)
        page.answer("OK")
        self.assertEqual(page.state(), "ready")
        # Beside the box, what to check and what to try.
        self.assertTrue(page.notices()[2].startswith("The module did not answer in time."),
                        page.notices())
        self.assertEqual(page.script("return kfwStandIn.commands(0x15)"), 5)

    def test_webmidi_port_unplugged_between_blocks(self):
        page = self.page("?fast", stand_in={"unplugAfterAnswers": 5})
        self.connected(page, STAND_IN_PORT)
        self.update(page)
        # The next block finds the output gone: the send fails as a failed call does, its text
        # shown, and the program ends; nothing of it runs on after.
        shown = page.expect_box(self, "fatal", QUESTION,
                                "midiOutLongMsg call failed - code 00000006\n", 30)
        self.assertEqual(shown[3], ["Yes", "No"])
        page.wait(lambda: page.state() == "ended", 10, "the program to end")
        self.assertTrue(any(notice.startswith("The program has ended (exit status 1)")
                            for notice in page.notices()), page.notices())
        blocks = page.script("return kfwStandIn.commands(0x15)")
        self.assertEqual(blocks, 5)
        page.answer("No")
        time.sleep(1.5)
        self.assertIsNone(page.box())
        self.assertEqual(page.script("return kfwStandIn.commands(0x15)"), blocks)
        self.assertFalse(page.progress()[0])

    def test_webmidi_refused_leaves_the_simulated_module(self):
        page = self.page("?simulator", stand_in={"mode": "refuse"})
        notices = page.notices()
        self.assertEqual(len(notices), 1)
        self.assertTrue(notices[0].startswith(
            "The browser refused this page MIDI with SysEx (NotAllowedError: Permission to use "
            "Web MIDI API was not granted). To allow it, open the site's settings"), notices[0])
        for words in ("Chrome, Edge, Opera", "Firefox", "Safari offers no Web MIDI",
                      "List the simulated module"):
            self.assertIn(words, notices[0])
        self.assertEqual(page.entries(TRANSMIT_TO), ["(Choose a MIDI port)", SIMULATED])
        self.connected(page)

    def test_no_webmidi_at_all(self):
        page = self.page("", stand_in={"mode": "none"})
        page.wait(lambda: page.notices(), 10, "the notice")
        self.assertTrue(page.notices()[0].startswith(
            "This browser offers no Web MIDI, so the page cannot reach a MIDI interface."))
        shown = page.wait_box()
        self.assertEqual(shown[:2], ["error", ERROR])
        self.assertTrue(shown[2].startswith("No MIDI input found: the browser gave this page no "
                                            "MIDI port."), shown[2])
        page.answer("OK")
        page.wait(lambda: page.state() == "ended", 10, "the session to end")
        self.assertIn("The session has ended (exit status 1): there is no MIDI port to use. "
                      "Start again", page.notices())


if __name__ == "__main__":
    unittest.main(verbosity=2)
