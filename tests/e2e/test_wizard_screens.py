"""The wizard as it is drawn: every page captured under Xvfb at 96 and 144 dpi (into screens/ of the
test tree, to be looked at), the link's colour, the title's font and the red status line measured on
the screen."""
import os
import time
import unittest

import screens
from wizard import (ASSOC_LIST, EULA, FOLDER, IDOK, IDYES, IMAGES_ONLY, READY_TITLE, STATUS_LINE, TARGET_LINE, TITLE,
                    VERSION_LINE, WRITE_ASSOCIATIONS, Wizard)

OUTPUT = os.path.join(os.path.dirname(os.environ.get("GLIMMERLY_FIXTURES", "/tmp/x")), "screens")
# Mean width of the title's strokes against the plain 8-point text: bold Arial at 18 pixels per 96 dpi.
BOLD_STROKES = {96: 1.6, 144: 2.0}
LONG_FOLDER = "C:\\Programme\\Ein sehr langer Ordnername für Glimmerly\\Noch ein Unterordner mit Namen\\Glimmerly"


def ink(wizard, control):
    rows, dark, stroke = (int(v) for v in wizard.ok("ink", control).split())
    return rows, stroke / 100.0


class Screens(unittest.TestCase):
    def test_pages_texts_that_fit_link_and_title_at_96_and_144_dpi(self):
        # XP shows box 1037 as well; a long folder is shortened in its middle on the ready page.
        for dpi, version in ((96, "win7"), (144, "winxp")):
            measured = {"cut": []}

            def on_page(index, wizard):
                for control in wizard.ok("fit", dpi).split():
                    id, need_x, need_y, x, y, inside = (int(v) for v in control.split(":"))
                    if need_x > x or need_y > y or not inside:
                        measured["cut"].append((index, id, need_x, need_y, x, y, inside))
                if index == 2:
                    # Orange text on grey rows while disabled, the list's own colours at once when enabled.
                    for expected_orange in (True, False):
                        wizard.click(WRITE_ASSOCIATIONS)
                        time.sleep(0.3)
                        orange = int(wizard.ok("pixels", ASSOC_LIST, 0xFF8000))
                        white = int(wizard.ok("pixels", ASSOC_LIST, 0xFFFFFF))
                        self.assertEqual((orange > 100, white < 30000), (expected_orange, expected_orange))
                if index == 0:
                    measured["link"] = int(wizard.ok("pixels", EULA, 0x0000EE))
                    measured["title"], measured["line"] = ink(wizard, TITLE), ink(wizard, VERSION_LINE)
                if index == 3:
                    measured["ready"] = ink(wizard, READY_TITLE)

            with self.subTest(dpi=dpi):
                shots = screens.capture_pages(os.path.join(OUTPUT, str(dpi)), dpi, version, on_page, LONG_FOLDER)
                self.assertEqual(len(shots), 5)
                self.assertEqual(measured["cut"], [], "(page, id, room needed, room given, inside the page)")
                self.assertGreater(measured["link"], 50, "link text in RGB(0, 0, 238)")
                (title_rows, title_stroke), (line_rows, line_stroke) = measured["title"], measured["line"]
                self.assertGreater(title_rows, 1.3 * line_rows / 2, "the title is larger than a line of text")
                for rows, stroke in (measured["title"], measured["ready"]):
                    self.assertGreater(stroke, BOLD_STROKES[dpi] * line_stroke, "bold title")

    def test_status_line_is_red_and_bold_again_after_a_failed_installation(self):
        with screens.Display() as display, screens.visual_prefix() as prefix:
            wizard = Wizard(prefix, display=display.name)
            try:
                wizard.set_text(FOLDER, "Q:\\Nowhere")
                for _ in range(3):
                    wizard.next()
                wizard.wait_page(3)
                wizard.next()
                wizard.box()
                wizard.answer(IDOK)
                wizard.wait_page(0)
                wizard.set_text(FOLDER, "C:\\Apps\\Glimmerly")
                wizard.next()
                wizard.next()
                wizard.wait_page(2)
                wizard.click(WRITE_ASSOCIATIONS)
                wizard.click(IMAGES_ONLY)
                wizard.next()
                wizard.wait_page(3)
                self.assertFalse(wizard.state(STATUS_LINE)[1], "hidden until the installation runs again")
                wizard.next()
                wizard.box()  # string 9, asked while the installation runs
                time.sleep(1)
                display.capture(os.path.join(OUTPUT, "96", "4-ready-installing-again.png"), screens.sheet_rect(wizard))
                self.assertGreater(int(wizard.ok("pixels", STATUS_LINE, 0xFF0000)), 100)
                # Red strokes lose their antialiased edges to the measure: bold 1.2, normal 1.0 times the text's.
                self.assertGreater(ink(wizard, STATUS_LINE)[1], 1.1 * ink(wizard, TARGET_LINE)[1], "bold")
                wizard.answer(IDYES)
            finally:
                wizard.close()


if __name__ == "__main__":
    unittest.main()
