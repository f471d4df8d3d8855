"""The wizard as it is drawn: every page captured under Xvfb at 96, 120, 144 and 192 dpi (into screens/
of the test tree, to be looked at), the link's colour, the title's font, the logo's size, the sheet's
place, the list's contrast and the red status line measured on the screen."""
import os
import time
import unittest

import screens
from wizard import (ASSOC_LIST, EULA, FOLDER, IDOK, IDYES, IMAGES_ONLY, LOGO_CONTROL, READY_TITLE, STATUS_LINE,
                    TARGET_LINE, TITLE, VERSION_LINE, WRITE_ASSOCIATIONS, Wizard)

OUTPUT = os.path.join(os.path.dirname(os.environ.get("GLIMMERLY_FIXTURES", "/tmp/x")), "screens")
# Mean width of the title's strokes against the plain 8-point text: bold Arial at 18 pixels per 96 dpi.
BOLD_STROKES = {96: 1.6, 120: 1.6, 144: 2.0, 192: 2.0}
# The logo as the design draws it at 96 dpi, in pixels.
LOGO_SIZE = (88, 31)
DISABLED_TEXT = 0x803000
LONG_FOLDER = "C:\\Programme\\Ein sehr langer Ordnername für Glimmerly\\Noch ein Unterordner mit Namen\\Glimmerly"


def luminance(rgb):
    channels = [((rgb >> shift) & 0xFF) / 255.0 for shift in (16, 8, 0)]
    r, g, b = (c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4 for c in channels)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(first, second):
    light, dark = sorted((luminance(first), luminance(second)), reverse=True)
    return (light + 0.05) / (dark + 0.05)


def ink(wizard, control):
    rows, dark, stroke = (int(v) for v in wizard.ok("ink", control).split())
    return rows, stroke / 100.0


class Screens(unittest.TestCase):
    def test_pages_texts_that_fit_link_title_logo_and_contrast_at_four_scales(self):
        # XP shows box 1037 as well; a long folder is shortened in its middle on the ready page. The
        # wizard at 200 % needs a screen of its size.
        for dpi, version in ((96, "win7"), (120, "win7"), (144, "winxp"), (192, "win7")):
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
                        if expected_orange:
                            # The rows are read before the list is enabled: its two main colours, measured.
                            back, _, text, _ = wizard.ok("palette", ASSOC_LIST).split()
                            measured["contrast"] = (back, text, contrast(int(back, 16), int(text, 16)))
                        orange = int(wizard.ok("pixels", ASSOC_LIST, DISABLED_TEXT))
                        white = int(wizard.ok("pixels", ASSOC_LIST, 0xFFFFFF))
                        self.assertEqual((orange > 100, white < 30000), (expected_orange, expected_orange))
                if index == 0:
                    left, top, right, bottom = (int(v) for v in wizard.ok("rect", LOGO_CONTROL).split())
                    measured["logo"] = (right - left, bottom - top)
                    measured["sheet"] = screens.sheet_rect(wizard)
                    measured["area"] = tuple(int(v) for v in wizard.ok("rect", 0).split())
                    measured["link"] = int(wizard.ok("pixels", EULA, 0x0000EE))
                    measured["title"], measured["line"] = ink(wizard, TITLE), ink(wizard, VERSION_LINE)
                if index == 3:
                    measured["ready"] = ink(wizard, READY_TITLE)

            with self.subTest(dpi=dpi):
                shots = screens.capture_pages(os.path.join(OUTPUT, str(dpi)), dpi, version, on_page, LONG_FOLDER,
                                              (1920, 1200) if dpi == 192 else (1024, 768))
                self.assertEqual(len(shots), 5)
                self.assertEqual(measured["cut"], [], "(page, id, room needed, room given, inside the page)")
                self.assertGreater(measured["link"], 50, "link text in RGB(0, 0, 238)")
                print("\n%d dpi: logo %s, sheet %s in %s, list %s" % (dpi, measured["logo"], measured["sheet"],
                                                                      measured["area"], measured["contrast"]))
                for drawn, design in zip(measured["logo"], LOGO_SIZE):
                    self.assertAlmostEqual(drawn, design * dpi / 96, delta=0.1 * design * dpi / 96, msg="logo")
                sheet, area = measured["sheet"], measured["area"]
                for axis in (0, 1):
                    self.assertAlmostEqual(sheet[axis] + sheet[axis + 2], area[axis] + area[axis + 2], delta=3,
                                           msg="centred on the work area")
                self.assertEqual(measured["contrast"][:2], ("c0c0c0", "%06x" % DISABLED_TEXT))
                self.assertGreaterEqual(measured["contrast"][2], 4.5, "disabled rows against their grey")
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
