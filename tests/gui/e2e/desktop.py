"""A private desktop for driving bin/veltro from outside, as assistive technology does:
Xvfb on a display it picks itself, a session bus of its own with the accessibility bus, the
demo account service on a port the system picks, and helpers that find and operate the
window's controls through AT-SPI.

Used by the end-to-end tests and by scripts/screenshots. Needs Debian's /usr/bin/python3 (gi).
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))


def wait_for(condition, seconds=20.0, what="condition"):
    """Polls every 50 ms; returns the first true value, raises after `seconds`."""
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def main(run):
    """The script's entry: re-runs itself inside Xvfb and a session bus, then calls run(*arguments)."""
    outer = in_session_bus([os.path.abspath(sys.argv[0])] + sys.argv[1:])
    sys.exit(outer if outer is not None else run(*sys.argv[1:]))


def in_session_bus(argv):
    """Re-runs this script inside Xvfb and a private session bus unless it already is."""
    if os.environ.get("VELTRO_DESKTOP_INNER") == "1":
        return None
    folder = tempfile.mkdtemp(prefix="veltro-desktop-")
    os.chmod(folder, 0o711)  # nginx's worker (nobody) records below it
    with open(os.path.join(folder, "display"), "w") as display_file:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(display_file.fileno()), "-screen", "0", "1280x800x24",
                                 "-nolisten", "tcp"], pass_fds=[display_file.fileno()],
                                stderr=subprocess.DEVNULL)
    try:
        display = wait_for(lambda: open(os.path.join(folder, "display")).read().strip(), 20, "Xvfb")
        runtime = os.path.join(folder, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, DISPLAY=":" + display, VELTRO_DESKTOP_INNER="1", VELTRO_DESKTOP_DIR=folder,
                   XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(folder, "config"),
                   NO_AT_BRIDGE="0")
        env.pop("WAYLAND_DISPLAY", None)
        code = subprocess.call(["dbus-run-session", "--", "/usr/bin/python3"] + argv, env=env)
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(folder, ignore_errors=True)
    return code


class Desktop:
    """Inside the session bus: the accessibility bus, the account service and the program."""

    def __init__(self, bin_dir, virtual_devices=True, rtmp_host="127.0.0.1"):
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
        self.Atspi = Atspi
        self.bin_dir = bin_dir
        self.folder = os.environ["VELTRO_DESKTOP_DIR"]
        self.home = os.path.join(self.folder, "home")
        for sub in ("home", "data", "config", "registry"):
            os.makedirs(os.path.join(self.folder, sub), exist_ok=True)
        self.processes = []
        subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.a11y.Bus.GetAddress"], check=True, stdout=subprocess.DEVNULL, timeout=20)
        self.account = subprocess.Popen(
            ["python3", os.path.join(SOURCE_DIR, "tools", "demo", "account_service.py"), "--listen", "127.0.0.1:0",
             "--rtmp-host", rtmp_host], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.account_address = self.account.stdout.readline().split()[1]
        self.conf = os.path.join(self.folder, "veltro.conf")
        with open(self.conf, "w") as conf:
            conf.write("[account]\nhosts = %s\n[web]\nsite = %s\n" % (self.account_address, self.account_address))
        self.env = dict(os.environ, HOME=self.home, XDG_DATA_HOME=os.path.join(self.folder, "data"),
                        VELTRO_REGISTRY_DIR=os.path.join(self.folder, "registry"), VELTRO_CONF=self.conf,
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        if virtual_devices:
            self.env["VELTRO_VIRTUAL_DEVICES"] = "1"

    # ---- processes ---------------------------------------------------------------------------
    def start_veltro(self, log_name="veltro.log", program=None):
        log = open(os.path.join(self.folder, log_name), "w")
        process = subprocess.Popen([program or os.path.join(self.bin_dir, "veltro")], env=self.env, stdout=log, stderr=log)
        self.processes.append(process)
        return process

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(20)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.account.terminate()
        self.account.wait()
        # The registry daemon and the bus launcher outlive the session bus otherwise.
        for name in ("org.a11y.atspi.Registry", "org.a11y.Bus"):
            reply = subprocess.run(["dbus-send", "--session", "--print-reply=literal", "--dest=org.freedesktop.DBus",
                                    "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                    "string:" + name], capture_output=True, text=True)
            match = re.search(r"(\d+)\s*$", reply.stdout.strip())
            if reply.returncode == 0 and match:
                try:
                    os.kill(int(match.group(1)), signal.SIGTERM)
                except ProcessLookupError:
                    pass

    def settings_file(self):
        return os.path.join(self.folder, "data", "Veltro", "settings.xml")

    def log_text(self):
        path = os.path.join(self.folder, "data", "Veltro", "log.txt")
        return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""

    def registry_value(self, key_part, name):
        """A DWORD of the per-user registry file, None when absent."""
        folder = os.path.join(self.folder, "registry")
        for file_name in os.listdir(folder):
            text = open(os.path.join(folder, file_name), encoding="utf-8", errors="replace").read()
            section = None
            for line in text.splitlines():
                if line.startswith("["):
                    section = line
                elif section and key_part in section:
                    match = re.match(r'"%s"=dword:([0-9a-fA-F]{8})' % re.escape(name), line)
                    if match:
                        return int(match.group(1), 16)
        return None

    # ---- accessibility -----------------------------------------------------------------------
    def applications(self, pid=None, name="veltro"):
        """The accessible applications called `name` (any name for None), of process `pid` if given."""
        desktop = self.Atspi.get_desktop(0)
        found = []
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None:
                continue
            try:
                if pid is not None and app.get_process_id() != pid:
                    continue
                if name is None or app.get_name() == name:
                    found.append(app)
            except Exception:
                continue
        return found

    def app(self, process, seconds=30):
        return wait_for(lambda: (self.applications(process.pid) or [None])[0], seconds, "the veltro application")

    def walk(self, node, showing_only=True):
        stack = [node]
        while stack:
            current = stack.pop()
            try:
                count = current.get_child_count()
            except Exception:
                continue
            yield current
            for i in range(count - 1, -1, -1):
                child = current.get_child_at_index(i)
                if child is None:
                    continue
                if showing_only:
                    try:
                        if not child.get_state_set().contains(self.Atspi.StateType.SHOWING):
                            continue
                    except Exception:
                        continue
                stack.append(child)

    def find_all(self, root, role=None, name=None, contains=None):
        result = []
        for node in self.walk(root):
            try:
                if role is not None and node.get_role_name() != role:
                    continue
                node_name = node.get_name() or ""
                if name is not None and node_name != name:
                    continue
                if contains is not None and contains not in node_name:
                    continue
            except Exception:
                continue
            result.append(node)
        return result

    def find(self, root, role=None, name=None, contains=None, seconds=20):
        what = "%s %r" % (role or "control", name if name is not None else contains)
        return wait_for(lambda: (self.find_all(root, role, name, contains) or [None])[0], seconds, what)

    def dialog(self, app, title="Veltro 5.5", seconds=20):
        def top_dialog():
            for i in range(app.get_child_count()):
                child = app.get_child_at_index(i)
                if child is not None and child.get_role_name() == "dialog" and child.get_name() == title:
                    return child
            return None
        return wait_for(top_dialog, seconds, "dialog " + title)

    def act(self, node, action_name):
        actions = node.get_action_iface()
        for i in range(actions.get_n_actions()):
            if actions.get_action_name(i) == action_name:
                actions.do_action(i)
                return
        raise AssertionError("no action %s on %s" % (action_name, node.get_name()))

    def press(self, node):
        self.act(node, "Press")

    def toggle(self, node):
        self.act(node, "Toggle")

    def is_checked(self, node):
        return node.get_state_set().contains(self.Atspi.StateType.CHECKED)

    def set_text(self, node, text):
        node.get_editable_text_iface().set_text_contents(text)

    def click(self, node, times=1):
        """Clicks the middle of a control with the mouse (times=2: a double click)."""
        extents = node.get_extents(self.Atspi.CoordType.SCREEN)
        x, y = extents.x + extents.width // 2, extents.y + extents.height // 2
        repeat = ["--repeat", str(times), "--delay", "80"] if times > 1 else []
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click"] + repeat + ["1"], check=True, env=self.env)

    def choose(self, app, combo, item_text):
        """Opens a list and clicks one of its items, as a user does."""
        self.click(combo)
        item = self.find(app, role="list item", name=item_text)
        self.click(item)

    def log_in(self, app, user="demo", password="demo"):
        """Fills the login form and presses "Log in" (the demo service's account by default)."""
        self.set_text(self.find(app, role="text", name="User name"), user)
        self.set_text(self.find(app, role="password text", name="Password"), password)
        self.press(self.find(app, role="push button", name="Log in"))

    def wait_for_preview(self):
        """After a login: the video source is on and its formats are listed."""
        wait_for(lambda: "Imported Video Formats ok" in self.log_text(), 30, "the video preview")

    def label_with(self, root, text, seconds=20):
        return self.find(root, role="label", contains=text, seconds=seconds)

    def screenshot(self, path, width=784, height=402, x=0, y=0):
        """The screen's area of `width` x `height` at (x, y) as a PNG at `path`; returns the path."""
        subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                        path], check=True, env=self.env)
        return path


class Results:
    """Named checks with a closing line ctest and people read: 'N passed, N failed'."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, function):
        try:
            function()
            self.passed += 1
            print("ok   " + name, flush=True)
        except Exception as error:  # a failed step is reported and the next one runs
            self.failed += 1
            print("FAIL %s: %s" % (name, error), flush=True)

    def check_all(self, steps):
        """check() for each (name, function) in turn."""
        for name, function in steps:
            self.check(name, function)

    def finish(self):
        print("%d passed, %d failed" % (self.passed, self.failed), flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


def free_loopback_port():
    """A port the system picks on 127.0.0.1 (for servers that cannot be told to pick one)."""
    import socket
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class RtmpServer:
    """nginx with the RTMP module on 127.0.0.1 and a free port, recording every stream of the
    application live/demo to rec/."""

    def __init__(self, folder):
        self.folder = folder
        self.port = free_loopback_port()
        self.records = os.path.join(folder, "rec")
        os.makedirs(os.path.join(folder, "logs"), exist_ok=True)
        os.makedirs(self.records, exist_ok=True)
        os.chmod(folder, 0o755)
        os.chmod(self.records, 0o777)
        with open(os.path.join(folder, "nginx.conf"), "w") as conf:
            conf.write("load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\ndaemon off;\nworker_processes 1;\n"
                       "pid %s/nginx.pid;\nerror_log %s/logs/error.log info;\nevents { worker_connections 64; }\n"
                       "rtmp { server { listen 127.0.0.1:%d; chunk_size 4096;\n"
                       "  application live/demo { live on; record all; record_unique on; record_path %s; } } }\n"
                       % (folder, folder, self.port, self.records))
        self.process = None
        self.start()

    @property
    def host(self):
        return "127.0.0.1:%d" % self.port

    def start(self):
        self.process = subprocess.Popen(["nginx", "-p", self.folder, "-c", os.path.join(self.folder, "nginx.conf"),
                                         "-e", os.path.join(self.folder, "logs", "error.log")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        import socket

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return True
            except OSError:
                return False
        wait_for(listening, 20, "nginx")

    def stop(self):
        """Kills the server at once, as a crash looks to its clients."""
        if self.process and self.process.poll() is None:
            # The master stopped first, so it cannot start a new worker that would keep the port.
            self.process.send_signal(signal.SIGSTOP)
            subprocess.run(["pkill", "-KILL", "-P", str(self.process.pid)])
            self.process.kill()
            self.process.wait()
        self.process = None

    def recordings(self):
        return sorted(os.path.join(self.records, name) for name in os.listdir(self.records))


def mean_brightness(path):
    """A picture file's mean brightness, 0 (black) to 1 (white)."""
    out = subprocess.run(["convert", path, "-colorspace", "Gray", "-format", "%[fx:mean]", "info:"],
                         capture_output=True, text=True, check=True).stdout
    return float(out)


def probe_codecs(path):
    """The codec names of a media file's streams, in order."""
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", path],
                         capture_output=True, text=True).stdout
    return [line.strip() for line in out.splitlines() if line.strip()]
