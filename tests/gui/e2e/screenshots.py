#!/usr/bin/env python3
"""Pictures of the window for people: the login panel, each tab, a broadcast on air and the
detached preview, taken under Xvfb with the virtual devices, the demo account service and a
local RTMP server.

  screenshots.py BIN_DIR OUT_DIR
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop as d  # noqa: E402


def settle(seconds=0.6):
    # Pictures only: give the preview a few frames before the picture is taken.
    time.sleep(seconds)


def run(bin_dir, out_dir):
    out_dir = os.path.abspath(out_dir)
    os.makedirs(out_dir, exist_ok=True)
    server = d.RtmpServer(os.path.join(os.environ["VELTRO_DESKTOP_DIR"], "nginx"))
    desk = d.Desktop(bin_dir, rtmp_host=server.host)
    try:
        veltro = desk.start_veltro()
        app = desk.app(veltro)
        desk.find(app, role="push button", name="Log in")
        settle()
        desk.screenshot(os.path.join(out_dir, "login.png"))

        desk.log_in(app)
        desk.label_with(app, "Demo Main")
        desk.wait_for_preview()
        for tab, file_name in [("Video", "video.png"), ("Audio", "audio.png"), ("Encoder Settings", "encoder.png"),
                               ("About", "about.png"), ("Broadcast", "broadcast.png")]:
            desk.press(desk.find(app, role="push button", name=tab))
            settle()
            desk.screenshot(os.path.join(out_dir, file_name))

        desk.press(desk.find(app, role="push button", name="Start broadcast"))
        desk.find(app, role="push button", name="Stop broadcast", seconds=60)
        d.wait_for(lambda: desk.find_all(app, role="label", name="00:00:03"), 30, "the clock at 3 s")
        desk.screenshot(os.path.join(out_dir, "on-air.png"))

        # The detached preview: a double click on the picture.
        desk.click(desk.find(app, name="Preview"), times=2)
        settle(1.5)
        desk.screenshot(os.path.join(out_dir, "detached-preview.png"), 1280, 800)
    finally:
        desk.close()
        server.stop()
    return 0


if __name__ == "__main__":
    d.main(run)
