#!/usr/bin/env python3
"""The whole update under Xvfb, driven through the accessibility bus: an installed older program
logs in, is offered the newer installer that the demo web site publishes, accepts, shows the
update panel with its progress, starts the installer and ends; the installed version is then
the newer one, and it starts in the old one's place. The site holds the installer halfway, so
the panel is seen during the transfer.

  update_e2e.py SOURCE_DIR BUILD_DIR
"""
import os
import re
import http.server
import signal
import subprocess
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui", "e2e"))
import desktop as d  # noqa: E402


class HeldSite:
    """The product web site on a port of its own: it serves the site folder's files, and stops
    halfway through the installer until `release` is set, so the test sees the transfer under way."""

    def __init__(self, folder):
        self.release = threading.Event()
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                path = os.path.join(folder, os.path.basename(self.path))
                if not self.path.startswith("/download/") or not os.path.isfile(path):
                    self.send_error(404)
                    return
                data = open(path, "rb").read()
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                half = len(data) // 2 if path.endswith("veltro-5.5.0.2") else len(data)
                self.wfile.write(data[:half])
                self.wfile.flush()
                if half < len(data):
                    site.release.wait(60)
                    self.wfile.write(data[half:])

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.address = "127.0.0.1:%d" % self.server.server_address[1]

    def close(self):
        self.release.set()
        self.server.shutdown()


def run(source_dir, build_dir):
    folder = os.environ["VELTRO_DESKTOP_DIR"]
    site_folder = os.path.join(folder, "site")
    packages = os.path.join(folder, "packages")
    package = [os.path.join(source_dir, "scripts", "package"), "--build-dir", build_dir, "--output", packages]
    old = subprocess.run(package + ["--version", "5.5.0.1"], check=True, capture_output=True, text=True)
    subprocess.run(package + ["--version", "5.5.0.2", "--site", site_folder], check=True, capture_output=True)
    site = HeldSite(site_folder)
    desk = d.Desktop(os.path.join(build_dir, "bin"))
    with open(desk.conf, "a") as conf:
        conf.write("[web]\nsite = %s\n" % site.address)
    env = dict(desk.env, TMPDIR=os.path.join(folder, "tmp"))
    os.makedirs(env["TMPDIR"])
    desk.env = env
    program = os.path.join(desk.home, ".local", "opt", "veltro", "veltro")
    results = d.Results()
    try:
        subprocess.run([old.stdout.strip().splitlines()[-1]], check=True, env=env, capture_output=True)
        veltro = desk.start_veltro(program=program)
        app = desk.app(veltro)

        def offered_after_login():
            desk.log_in(app)

            def question():
                for i in range(app.get_child_count()):
                    child = app.get_child_at_index(i)
                    if child is not None and child.get_name() == "Veltro 5.5" and child.get_role_name() != "frame":
                        return child
                return None
            box = d.wait_for(question, 30, "the update question")
            desk.label_with(box, "A new version is available. Do you want to update?")
            desk.find(box, role="push button", name="Cancel")
            desk.press(desk.find(box, role="push button", name="Yes"))

        def panel_shows_progress():
            desk.label_with(app, "The application will now install the updates and restart")
            percent = desk.find(app, role="label", contains=" %")
            d.wait_for(lambda: re.fullmatch(r"([1-9]\d?) %", percent.get_name() or ""), 30, "a percentage on the way")
            site.release.set()

        def installer_replaces_the_program():
            assert veltro.wait(60) == 0
            d.wait_for(lambda: subprocess.run([program, "--version"], capture_output=True, text=True,
                                              env=env).stdout.strip() == "veltro 5.5.0.2", 60, "version 5.5.0.2")
            assert "cannot" not in desk.log_text().lower(), desk.log_text()

        def new_version_starts_again():
            restarted = d.wait_for(lambda: [a for a in desk.applications() if a.get_process_id() != veltro.pid], 60,
                                   "the restarted program")[0].get_process_id()
            assert os.readlink("/proc/%d/exe" % restarted) == program
            os.kill(restarted, signal.SIGTERM)  # started by the installer, not by this test's helpers
            d.wait_for(lambda: not os.path.exists("/proc/%d" % restarted) or
                       open("/proc/%d/stat" % restarted).read().rsplit(") ", 1)[1].startswith("Z"), 30, "its end")

        results.check_all([("the update is offered after login and accepted", offered_after_login),
                           ("the update panel shows the download's progress", panel_shows_progress),
                           ("the program ends and the installer replaces it", installer_replaces_the_program),
                           ("the new version starts in its place", new_version_starts_again)])
    finally:
        desk.close()
        site.close()
    return results.finish()


if __name__ == "__main__":
    d.main(run)
