#!/usr/bin/env python3
"""CPU time and peak memory of a 1280x720 at 30 fps broadcast of the virtual devices with
veltro-cli, against an ffmpeg command line with the same sizes, x264 settings and bit rates,
both publishing to the same local nginx. ffmpeg reads the virtual camera's own YUY2 frames
(bench/pattern_frames) from a pipe, so both encode the same picture. Prints both figures and
the CPU ratio (target <= 1.1).

  bench/app/broadcast_cpu.py BUILD_DIR [--seconds 60]
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ADDRESS = "127.0.0.25"

# The x264 values veltro writes on first use, in
# x264's own option names; veryfast is the encoder stand-in's base preset.
X264_PARAMS = ":".join([
    "keyint=90", "min-keyint=30", "bframes=2", "b-adapt=0", "b-pyramid=none", "ref=5", "cabac=1",
    "deblock=0,0", "subme=4", "partitions=i4x4,i8x8,p8x8,b8x8,p4x4", "8x8dct=1", "trellis=1",
    "weightp=1", "direct=spatial", "mixed-refs=1", "qpmin=6", "qpmax=51", "ratetol=1.0", "level=4.1",
])


def run_measured(command, env, work, stdin=None):
    """Runs command to its end; returns (CPU seconds, peak RSS in MiB) of that process."""
    report = os.path.join(work, "time.txt")
    subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report] + command, env=env, stdin=stdin,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    user, system, peak_kib = open(report).read().split()[-3:]
    return float(user) + float(system), int(peak_kib) / 1024.0


def start_nginx(folder):
    os.makedirs(folder + "/logs")
    with open(folder + "/nginx.conf", "w") as conf:
        conf.write(f"""load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;
daemon off;
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/logs/error.log info;
events {{ worker_connections 64; }}
rtmp {{ server {{ listen {ADDRESS}:1935; chunk_size 4096; application live {{ live on; }} }} }}
""")
    process = subprocess.Popen(["nginx", "-p", folder, "-c", folder + "/nginx.conf", "-e", folder + "/logs/error.log"])
    time.sleep(1)
    return process


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--seconds", type=int, default=60)
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    cli = os.path.join(build, "bin", "veltro-cli")
    work = tempfile.mkdtemp(prefix="veltro-bench-")
    env = dict(os.environ, HOME=work + "/home", XDG_DATA_HOME=work + "/data", XDG_CONFIG_HOME=work + "/config",
               VELTRO_REGISTRY_DIR=work + "/registry", VELTRO_VIRTUAL_DEVICES="1")
    for folder in ("home", "data", "config", "registry"):
        os.makedirs(os.path.join(work, folder))
    nginx = start_nginx(work + "/nginx")
    try:
        veltro = run_measured([cli, "broadcast", "--url", f"rtmp://{ADDRESS}/live/@veltro", "--seconds",
                               str(args.seconds), "--format", "YUY2", "--size", "1280x720", "--fps", "30.00",
                               "--video-bitrate", "1024", "--audio-bitrate", "128"], env, work)
        frames = subprocess.Popen([os.path.join(build, "bench", "pattern_frames"), "1280", "720",
                                   str(args.seconds * 30)], stdout=subprocess.PIPE)
        ffmpeg = run_measured(["ffmpeg", "-nostdin", "-re", "-f", "rawvideo", "-pix_fmt", "yuyv422",
                               "-video_size", "1280x720", "-framerate", "30", "-i", "pipe:0",
                               "-re", "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100",
                               "-t", str(args.seconds), "-pix_fmt", "yuv420p", "-c:v", "libx264",
                               "-preset", "veryfast", "-b:v", "1024k", "-maxrate", "1024k", "-bufsize", "1024k",
                               "-x264-params", X264_PARAMS, "-c:a", "aac", "-b:a", "128k", "-ac", "2",
                               "-f", "flv", f"rtmp://{ADDRESS}/live/ffmpeg"], env, work, stdin=frames.stdout)
        frames.stdout.close()
        frames.wait()
    finally:
        nginx.send_signal(signal.SIGQUIT)
        nginx.wait()
        shutil.rmtree(work, ignore_errors=True)
    print(f"veltro-cli: {veltro[0]:.1f} s CPU, peak RSS {veltro[1]:.0f} MiB")
    print(f"ffmpeg:     {ffmpeg[0]:.1f} s CPU, peak RSS {ffmpeg[1]:.0f} MiB")
    print(f"CPU ratio veltro/ffmpeg: {veltro[0] / ffmpeg[0]:.2f} (target <= 1.1)")


if __name__ == "__main__":
    sys.exit(main())
