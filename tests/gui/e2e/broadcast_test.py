#!/usr/bin/env python3
"""A broadcast from bin/veltro, driven through the accessibility bus under Xvfb against nginx-rtmp,
the account service and the virtual devices: on air with a running clock while the server
receives H.264 and AAC, the red reconnect text while the server is down and on air again after,
stop, a recording with both streams, and the loss of the camera during a broadcast.

  broadcast_test.py BIN_DIR
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop as d  # noqa: E402

CLOCK = re.compile(r"^\d\d:\d\d:\d\d$")


def run(bin_dir):
    server = d.RtmpServer(os.path.join(os.environ["VELTRO_DESKTOP_DIR"], "nginx"))
    desk = d.Desktop(bin_dir, rtmp_host=server.host)
    devices = os.path.join(desk.folder, "virtual-devices")
    desk.env["VELTRO_VIRTUAL_DEVICE_CONTROL"] = devices
    results = d.Results()
    try:
        veltro = desk.start_veltro()
        app = desk.app(veltro)

        def clock_at_least(seconds):
            def reached():
                for label in desk.find_all(app, role="label"):
                    text = label.get_name() or ""
                    if CLOCK.match(text):
                        h, m, s = (int(part) for part in text.split(":"))
                        if h * 3600 + m * 60 + s >= seconds:
                            return True
                return False
            d.wait_for(reached, 60, "the session clock at %d s" % seconds)

        def start():
            desk.press(desk.find(app, role="push button", name="Start broadcast"))
            desk.find(app, role="push button", name="Stop broadcast", seconds=60)

        def on_air():
            desk.log_in(app)
            desk.wait_for_preview()
            start()
            desk.label_with(app, "Broadcasting")
            clock_at_least(3)
            flv = d.wait_for(server.recordings, 20, "a recording on the server")[-1]
            codecs = d.wait_for(lambda: (lambda c: c if {"h264", "aac"} <= set(c) else None)(d.probe_codecs(flv)),
                                30, "H.264 and AAC on the server")
            assert {"h264", "aac"} <= set(codecs), codecs

        def reconnects():
            server.stop()
            try:
                desk.label_with(app, "Disconnected.  Trying to reconnect...", seconds=30)
                desk.find(app, role="push button", name="Stop reconnecting")
            finally:
                server.start()
            desk.find(app, role="push button", name="Stop broadcast", seconds=60)
            desk.label_with(app, "Broadcasting")
            assert desk.find_all(app, role="label", contains="Trying to reconnect") == []

        def stops():
            desk.press(desk.find(app, role="push button", name="Stop broadcast"))
            desk.label_with(app, "Idle", seconds=30)
            desk.find(app, role="push button", name="Start broadcast")
            desk.label_with(app, "00:00:00")

        def records():
            target = os.path.join(desk.folder, "show.mp4")
            desk.toggle(desk.find(app, name="Save to file", role="check box"))
            path = desk.find(app, role="text", name="Recording file")
            d.wait_for(lambda: path.get_state_set().contains(desk.Atspi.StateType.ENABLED), 10, "the path field")
            desk.set_text(path, target)
            start()
            desk.label_with(app, "Local Record")
            clock_at_least(3)
            desk.press(desk.find(app, role="push button", name="Stop broadcast"))
            desk.label_with(app, "Idle", seconds=30)
            assert set(d.probe_codecs(target)) >= {"h264", "aac"}, d.probe_codecs(target)
            desk.toggle(desk.find(app, name="Save to file", role="check box"))

        def camera_loss():
            start()
            with open(devices + ".new", "w") as control:
                control.write("camera removed\n")
            os.replace(devices + ".new", devices)
            notice = desk.dialog(app, seconds=30)
            desk.label_with(notice, "A problem occurred during Capturing Audio or Video Data.")
            desk.label_with(notice, "Please attach the capture device and start the process again.")
            desk.press(desk.find(notice, role="push button", name="OK"))
            desk.find(app, role="push button", name="Start broadcast", seconds=30)
            assert not desk.is_checked(desk.find(app, name="Send Video", role="check box"))

        results.check_all([("on air with a running clock, H.264 and AAC on the server", on_air),
                           ("a server restart shows the reconnect text, then on air again", reconnects),
                           ("stop shows Idle", stops),
                           ("a recording holds both streams", records),
                           ("removing the camera ends the broadcast with the two-line pop-up", camera_loss)])
    finally:
        desk.close()
        server.stop()
    return results.finish()


if __name__ == "__main__":
    d.main(run)
