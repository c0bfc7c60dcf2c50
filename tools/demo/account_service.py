#!/usr/bin/env python3
"""A demo account service for Veltro: answers the broadcaster's login request with one demo
account whose channels publish to a given RTMP server. Loopback use only (demo and tests).

  account_service.py --listen 127.0.0.1:8080 --rtmp-host 127.0.0.20 [--user demo --password demo]
                     [--download-dir DIR [--download-rate KBYTES_PER_S]]

It is also the product web site of the update check: /download/FILE comes from DIR (the version
file last_version.txt and the installers); without DIR the version file offers no update.

Prints "ready <host:port>" once it accepts requests.
"""
import argparse
import http.server
import os
import sys
import time
import urllib.parse


def encode_key(text):
    # The service's key: odd positions (from one) raised by 17, even ones by 13, in hex.
    return "".join("%02X" % (ord(c) + (17 if i % 2 == 0 else 13)) for i, c in enumerate(text))


def account_reply(args):
    return "&".join([
        "success=true",
        "key=" + encode_key("demo-K4R2-key"),
        "server_type=fms",
        "channels=" + ",".join(urllib.parse.quote_plus(name) for name in args.channel_names),
        "streams=" + ",".join(args.streams),
        "uri=%s/%s/%s" % (args.rtmp_host, args.application, args.instance),
        "token=" + "0123456789abcdef0123456789abcdef",
    ])


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path.startswith("/download/"):
            self.send_download(url.path[len("/download/"):])
            return
        if url.path != "/services/broadcaster264_auth.php":
            self.send_error(404)
            return
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        user = query.get("username", [""])[0]
        password = query.get("password", [""])[0]
        args = self.server.args
        if user == args.user and password == args.password:
            body = account_reply(args)
        else:
            body = "success=false&code=1&Invalid+username+or+password"
        data = (body + "\r\n").encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def send_download(self, name):
        folder = self.server.args.download_dir
        if not folder:
            data = b"0_none\r\n" if name == "last_version.txt" else None
        elif "/" in name or name.startswith(".") or not os.path.isfile(os.path.join(folder, name)):
            data = None
        else:
            with open(os.path.join(folder, name), "rb") as file:
                data = file.read()
        if data is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        rate = self.server.args.download_rate * 1024
        step = max(1, rate // 10) if rate else len(data) or 1
        for start in range(0, len(data), step):
            self.wfile.write(data[start:start + step])
            if rate:
                time.sleep(0.1)  # paced, so that the program's progress display can be watched

    def log_message(self, format, *values):
        sys.stderr.write("account service: " + (format % values) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", default="127.0.0.1:8080")
    parser.add_argument("--rtmp-host", default="127.0.0.1")
    parser.add_argument("--application", default="live")
    parser.add_argument("--instance", default="demo")
    parser.add_argument("--user", default="demo")
    parser.add_argument("--password", default="demo")
    parser.add_argument("--channel-names", nargs="+", default=["Demo Main", "Demo Second"])
    parser.add_argument("--streams", nargs="+", default=["main101", "second102"])
    parser.add_argument("--download-dir", default="")
    parser.add_argument("--download-rate", type=int, default=0)
    args = parser.parse_args()
    host, port = args.listen.rsplit(":", 1)
    if not host.startswith("127."):
        parser.error("the demo service listens on loopback only")
    server = http.server.ThreadingHTTPServer((host, int(port)), Handler)
    server.args = args
    print("ready %s:%d" % server.server_address, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
