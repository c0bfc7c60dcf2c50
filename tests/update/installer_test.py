#!/usr/bin/env python3
"""The per-user installer built by scripts/package, installed into a temporary HOME: the installed
program runs, a newer one installs over it with the update's switches, /noicons leaves no desktop
entry, and an installer killed halfway leaves the older installation runnable. The desktop entry
and the AppStream file pass their validators.

  installer_test.py SOURCE_DIR BUILD_DIR
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

source_dir, build_dir = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="veltro-installer-")
home = os.path.join(work, "home")
os.makedirs(os.path.join(work, "tmp"))
env = dict(os.environ, HOME=home, TMPDIR=os.path.join(work, "tmp"))
env.pop("XDG_DATA_HOME", None)
program_dir = os.path.join(home, ".local", "opt", "veltro")
entry = os.path.join(home, ".local", "share", "applications", "veltro.desktop")
failures = []


def check(name, condition, detail=""):
    print(("ok   " if condition else "FAIL ") + name + ("" if condition else ": " + str(detail)), flush=True)
    if not condition:
        failures.append(name)


def package(version):
    out = subprocess.run([os.path.join(source_dir, "scripts", "package"), "--build-dir", build_dir, "--output", work,
                          "--version", version], check=True, capture_output=True, text=True, env=env)
    return out.stdout.strip().splitlines()[-1]


def installed_version(path=os.path.join(home, ".local", "bin", "veltro")):
    return subprocess.run([path, "--version"], capture_output=True, text=True, env=env).stdout.strip()


try:
    old, new, newer = package("5.5.0.1"), package("5.5.0.2"), package("5.5.0.3")
    check("installer named after its version", os.path.basename(new) == "veltro-5.5.0.2_setup.run", new)

    subprocess.run([old], check=True, env=env, capture_output=True)
    check("installed program reports its version", installed_version() == "veltro 5.5.0.1", installed_version())
    check("filters beside the program", os.path.exists(os.path.join(program_dir, "filters", "KeshRTMPSink.ax")))
    validate = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
    check("installed desktop entry is valid", os.path.exists(entry) and validate.returncode == 0, validate.stdout)
    metainfo = os.path.join(source_dir, "packaging", "io.veltro.Veltro.metainfo.xml")
    validate = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo], capture_output=True, text=True)
    check("AppStream metadata is valid", validate.returncode == 0, validate.stdout)

    # Killed once the new files are unpacked but before they replace the old ones (a `sync` on
    # the PATH that waits stands for a slow disk there).
    fake_bin = os.path.join(work, "fake-bin")
    os.makedirs(fake_bin)
    marker = os.path.join(work, "halfway")
    with open(os.path.join(fake_bin, "sync"), "w") as fake:
        fake.write("#!/bin/sh\ntouch '%s'\nexec sleep 600\n" % marker)
    os.chmod(os.path.join(fake_bin, "sync"), 0o755)
    killed_env = dict(env, PATH=fake_bin + ":" + env["PATH"])
    installer = subprocess.Popen([newer, "/SP-", "/silent", "/noicons", "/dir=" + program_dir + "/"], env=killed_env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    for _ in range(1200):
        if os.path.exists(marker) or installer.poll() is not None:
            break
        time.sleep(0.05)
    check("installer reached the replacement", os.path.exists(marker))
    os.killpg(installer.pid, signal.SIGKILL)
    installer.wait()
    check("killed install leaves the old program runnable", installed_version() == "veltro 5.5.0.1", installed_version())

    os.remove(entry)
    subprocess.run([new, "/SP-", "/silent", "/noicons", "/dir=" + program_dir + "/"], check=True, env=env,
                   capture_output=True)
    check("newer version installed over the old one", installed_version() == "veltro 5.5.0.2", installed_version())
    check("/noicons leaves no desktop entry", not os.path.exists(entry))
    leftovers = [name for name in os.listdir(os.path.dirname(program_dir)) if name != "veltro"]
    check("no unpacked or old folders left", leftovers == [], leftovers)
finally:
    shutil.rmtree(work, ignore_errors=True)
print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
