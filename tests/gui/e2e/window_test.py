#!/usr/bin/env python3
"""bin/veltro driven from outside through the accessibility bus under Xvfb: login against the
account service (wrong password, then the right one), tabs, an encoder list written to the
registry, logout, and a second start refused while the first runs.

  window_test.py BIN_DIR
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop as d  # noqa: E402


def run(bin_dir):
    desk = d.Desktop(bin_dir)
    results = d.Results()
    try:
        veltro = desk.start_veltro()
        app = desk.app(veltro)

        def wrong_password():
            desk.log_in(app, password="wrong")
            desk.label_with(app, "Invalid username or password")
            assert "Login Error" in desk.log_text()

        def right_password():
            desk.log_in(app)
            desk.label_with(app, "Demo Main")
            desk.find(app, role="push button", name="Log out")
            assert desk.find_all(app, role="push button", name="Log in") == [], "the login panel still shows"

        def tabs_and_encoder_list():
            desk.press(desk.find(app, role="push button", name="Encoder Settings"))
            level = desk.find(app, role="combo box", name="Level 4.1")
            assert desk.registry_value("MONOGRAM x264 Encoder", "Level") == 12
            desk.choose(app, level, "Level 3")
            d.wait_for(lambda: desk.registry_value("MONOGRAM x264 Encoder", "Level") == 8, 10, "Level 8 stored")
            desk.press(desk.find(app, role="push button", name="About"))
            desk.label_with(app, "5.5.0.")
            desk.press(desk.find(app, role="push button", name="Broadcast"))
            desk.find(app, role="push button", name="Start broadcast")

        def log_out():
            desk.press(desk.find(app, role="push button", name="Log out"))
            desk.find(app, role="push button", name="Log in")
            assert desk.find_all(app, role="push button", name="Log out") == [], "the main panel still shows"

        def second_start_refused():
            second = desk.start_veltro("second.log")
            second_app = desk.app(second)
            notice = desk.dialog(second_app)
            desk.label_with(notice, "Veltro application is already in use")
            assert desk.find_all(second_app, role="push button", name="Log in") == [], "a second window shows"
            desk.press(desk.find(notice, role="push button", name="OK"))
            assert second.wait(20) == 0
            assert veltro.poll() is None, "the first program ended"

        def close_writes_settings():
            veltro.terminate()
            assert veltro.wait(30) == 0
            assert os.path.exists(desk.settings_file())
            assert "------------------------------" in desk.log_text()

        results.check_all([("wrong password shows the service's message", wrong_password),
                           ("right password shows the channels", right_password),
                           ("tabs and an encoder list written to the registry", tabs_and_encoder_list),
                           ("log out shows the login panel", log_out),
                           ("a second start is refused", second_start_refused),
                           ("closing writes the settings", close_writes_settings)])
    finally:
        desk.close()
    return results.finish()


if __name__ == "__main__":
    d.main(run)
