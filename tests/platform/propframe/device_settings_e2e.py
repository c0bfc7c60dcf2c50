#!/usr/bin/env python3
"""bin/veltro driven through the accessibility bus under Xvfb: "Device settings" on the Video
tab opens the virtual camera's page in the property frame over the main window, a control moved
there and OK, and the preview runs again with the camera's new picture. Then scalvo-cli
--properties: a size chosen on the scaler's Main page, OK, and the parameters it prints.

  device_settings_e2e.py BIN_DIR
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "gui", "e2e"))
import desktop as d  # noqa: E402

PREVIEW = (432, 75, 320, 180)  # the preview's place in the main window


def preview_mean(desk, frame):
    """The preview's mean brightness (0..1) on the screen, from a screenshot."""
    origin = frame.get_extents(desk.Atspi.CoordType.SCREEN)
    x, y, w, h = PREVIEW
    return d.mean_brightness(desk.screenshot(os.path.join(desk.folder, "preview.png"), w, h, origin.x + x,
                                             origin.y + y))


def run(bin_dir):
    desk = d.Desktop(bin_dir)
    results = d.Results()
    try:
        veltro = desk.start_veltro()
        app = desk.app(veltro)
        frame = desk.find(app, role="frame", name="Veltro 5.5")
        state = {}

        def preview_runs():
            desk.log_in(app)
            desk.press(desk.find(app, role="push button", name="Video"))
            desk.find(app, role="combo box", name="Veltro Test Pattern Camera")
            desk.wait_for_preview()
            state["before"] = d.wait_for(lambda: preview_mean(desk, frame) > 0.2 and preview_mean(desk, frame), 30,
                                         "a picture in the preview")

        def device_settings_change_and_ok():
            desk.press(desk.find(app, role="push button", name="Device settings"))
            pages = desk.dialog(app, "Video capture Properties")
            desk.find(pages, role="page tab", name="Camera")
            brightness = desk.find(pages, role="slider", name="Brightness")
            desk.Atspi.Value.set_current_value(brightness, 100.0)
            apply = desk.find(pages, role="push button", name="Apply")
            d.wait_for(lambda: apply.get_state_set().contains(desk.Atspi.StateType.ENABLED), 10, "Apply enabled")
            desk.press(desk.find(pages, role="push button", name="OK"))
            d.wait_for(lambda: not [c for c in (app.get_child_at_index(i) for i in range(app.get_child_count()))
                                    if c is not None and c.get_role_name() == "dialog"], 20, "the frame closed")

        def preview_runs_again_brighter():
            # Measured once the frame is gone, so that only the preview is on screen there.
            d.wait_for(lambda: preview_mean(desk, frame) > state["before"] + 0.1, 30, "a brighter preview")
            first = preview_mean(desk, frame)
            # The pattern's square and frame counter move: the picture changes while it runs.
            d.wait_for(lambda: preview_mean(desk, frame) != first, 30, "a moving preview")
            assert "Cannot display property page" not in desk.log_text()

        def scalvo_cli_prints_what_main_applied():
            cli = subprocess.Popen([os.path.join(bin_dir, "scalvo-cli"), "--properties", "--in", "YUY2:720x576",
                                    "--out", "YUY2:720x576"], env=desk.env, stdout=subprocess.PIPE, text=True)
            desk.processes.append(cli)
            cli_app = d.wait_for(lambda: desk.applications(cli.pid, name=None), 30, "scalvo-cli")[0]
            pages = desk.dialog(cli_app, "Tolvane Video Scaler Properties")
            desk.label_with(pages, "Tolvane Video Scaler")
            desk.press(desk.find(pages, role="page tab", name="Main"))
            desk.label_with(pages, "Resolution:      720x576")
            desk.toggle(desk.find(pages, role="check box", name="Resize Frame"))
            desk.choose(cli_app, desk.find(pages, role="combo box", name="720x576"), "720x608")
            desk.press(desk.find(pages, role="push button", name="OK"))
            out, _ = cli.communicate(timeout=30)
            assert cli.returncode == 0, out
            for line in ("Source Frame Width: 720", "Resizing Option State: 1", "Resized Frame Height: 608"):
                assert line in out.splitlines(), out

        results.check_all([("the preview runs", preview_runs),
                           ("device settings: brightness moved, OK", device_settings_change_and_ok),
                           ("the preview runs again with the brighter picture", preview_runs_again_brighter),
                           ("scalvo-cli --properties prints what Main applied", scalvo_cli_prints_what_main_applied)])
    finally:
        desk.close()
    return results.finish()


if __name__ == "__main__":
    d.main(run)
