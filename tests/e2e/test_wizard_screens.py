"""The wizard as it is drawn: every page captured under Xvfb at 96 and 144 dpi (into screens/ of the
test tree, to be looked at), the link's colour, the title's font and the red status line measured on
the screen."""
import os
import unittest

import screens
from wizard import EULA, FOLDER, IDOK, READY_TITLE, STATUS_LINE, TITLE, VERSION_LINE, Wizard

OUTPUT = os.path.join(os.path.dirname(os.environ.get("GLIMMERLY_FIXTURES", "/tmp/x")), "screens")
# Mean width of the title's strokes against the plain 8-point text: bold Arial at 18 pixels per 96 dpi.
BOLD_STROKES = {96: 1.6, 144: 2.0}


def ink(wizard, control):
    rows, dark, stroke = (int(v) for v in wizard.ok("ink", control).split())
    return rows, stroke / 100.0


class Screens(unittest.TestCase):
    def test_pages_link_and_title_at_96_and_144_dpi(self):
        for dpi in (96, 144):
            measured = {}

            def on_page(index, wizard):
                if index == 0:
                    measured["link"] = int(wizard.ok("pixels", EULA, 0x0000EE))
                    measured["title"], measured["line"] = ink(wizard, TITLE), ink(wizard, VERSION_LINE)
                if index == 3:
                    measured["ready"] = ink(wizard, READY_TITLE)

            with self.subTest(dpi=dpi):
                shots = screens.capture_pages(os.path.join(OUTPUT, str(dpi)), dpi, on_page=on_page)
                self.assertEqual(len(shots), 5)
                self.assertGreater(measured["link"], 50, "link text in RGB(0, 0, 238)")
                (title_rows, title_stroke), (line_rows, line_stroke) = measured["title"], measured["line"]
                self.assertGreater(title_rows, 1.3 * line_rows / 2, "the title is larger than a line of text")
                for rows, stroke in (measured["title"], measured["ready"]):
                    self.assertGreater(stroke, BOLD_STROKES[dpi] * line_stroke, "bold title")

    def test_status_line_is_red_after_a_failed_installation(self):
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
                for _ in range(3):
                    wizard.next()
                wizard.wait_page(3)
                import time
                time.sleep(1)
                display.capture(os.path.join(OUTPUT, "96", "4-ready-after-failure.png"), screens.sheet_rect(wizard))
                self.assertGreater(int(wizard.ok("pixels", STATUS_LINE, 0xFF0000)), 100)
            finally:
                wizard.close()


if __name__ == "__main__":
    unittest.main()
