#!/usr/bin/env python3
"""The live picture of bin/veltro as it reaches the screen, under Xvfb with the virtual camera:
monitor1 shows moving video after login; a double click detaches it into the preview window,
centred on the main window, where it keeps moving, also after a broadcast start has rebuilt the
pipeline; a double click on the preview brings the picture back into monitor1.

  live_picture_test.py BIN_DIR
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop as d  # noqa: E402


def extents(desk, node):
    box = node.get_extents(desk.Atspi.CoordType.SCREEN)
    return box.x, box.y, box.width, box.height


def capture(desk, box, name):
    """The screen inside `box` as a PNG in the desktop's folder."""
    x, y, w, h = box
    return desk.screenshot(os.path.join(desk.folder, name), w, h, x, y)


def differ(a, b):
    return subprocess.run(["compare", "-metric", "AE", a, b, "null:"], capture_output=True).returncode == 1


def assert_live(desk, box, name):
    """The area shows a picture (not black) that changes: frames keep arriving."""
    first = os.path.join(desk.folder, name + "-1.png")
    d.wait_for(lambda: d.mean_brightness(capture(desk, box, name + "-1.png")) > 0.05, 20, "a picture in " + name)
    d.wait_for(lambda: differ(first, capture(desk, box, name + "-2.png")), 20, "a new frame in " + name)


def run(bin_dir):
    server = d.RtmpServer(os.path.join(os.environ["VELTRO_DESKTOP_DIR"], "nginx"))
    desk = d.Desktop(bin_dir, rtmp_host=server.host)
    results = d.Results()
    try:
        veltro = desk.start_veltro()
        app = desk.app(veltro)
        desk.log_in(app)
        desk.wait_for_preview()
        monitor = desk.find(app, name="Preview")
        main = [app.get_child_at_index(i) for i in range(app.get_child_count())]
        main = next(w for w in main if w is not None and w.get_role_name() == "frame")

        def monitor_live():
            assert extents(desk, monitor)[2:] == (320, 180), extents(desk, monitor)
            assert_live(desk, extents(desk, monitor), "monitor1")

        def detaches():
            desk.click(monitor, times=2)
            picture = desk.find(app, name="Detached preview")
            px, py, pw, ph = extents(desk, picture)
            mx, my, mw, mh = extents(desk, main)
            # The picture is centred in the preview, the preview on the main window.
            assert abs(2 * px + pw - (2 * mx + mw)) <= 2 and abs(2 * py + ph - (2 * my + mh)) <= 2, \
                (extents(desk, picture), extents(desk, main))
            assert pw < 382 and ph < 218, (pw, ph)
            assert_live(desk, (px, py, pw, ph), "detached")

        def survives_rebuild():
            desk.press(desk.find(app, role="push button", name="Start broadcast"))
            desk.find(app, role="push button", name="Stop broadcast", seconds=60)
            d.wait_for(lambda: desk.find_all(app, role="label", contains="Broadcasting"), 30, "on air")
            assert_live(desk, extents(desk, desk.find(app, name="Detached preview")), "detached-on-air")

        def returns():
            desk.click(desk.find(app, name="Detached preview"), times=2)
            d.wait_for(lambda: not desk.find_all(app, name="Detached preview"), 20, "the preview to close")
            assert_live(desk, extents(desk, desk.find(app, name="Preview")), "monitor1-back")

        results.check_all([("monitor1 shows the moving camera picture", monitor_live),
                           ("a double click detaches the picture, centred on the main window", detaches),
                           ("the preview keeps the picture when a broadcast rebuilds the pipeline", survives_rebuild),
                           ("a double click on the preview brings the picture back to monitor1", returns)])
    finally:
        desk.close()
        server.stop()
    return results.finish()


if __name__ == "__main__":
    d.main(run)
