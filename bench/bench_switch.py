#!/usr/bin/env python3
"""How long an installation is mixed while a release is switched in, against rsync --delay-updates.

    bench/bench_switch.py [BUILD_DIR] [FILES] [BYTES_PER_FILE]

Makes two releases of FILES small files (default 20,000 of 1 KiB, in 200 folders; every file
changes from the first to the second), serves the second with nginx on a free loopback port, and
updates a copy of the first to it with `renewel quiet` and another copy with
`rsync -a --delay-updates` (local, no network). Both put every new file in place by a rename at the
end; a rename sets the file's change time, so the spread of change times over the updated files is
the time the installation held old and new files side by side: renewel's switch from its first
rename to its last, rsync's phase of delayed renames. Each whole run is timed as well (renewel's
includes fetching every file over HTTP; rsync copies from a local folder), best of ROUNDS
(environment, default 2).
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release")
count = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
size = int(sys.argv[3]) if len(sys.argv) > 3 else 1024
rounds = int(os.environ.get("ROUNDS", "2"))
renewel = os.path.join(build, "renewel", "renewel")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1")


def names():
    return ["d%03d/f%05d.dat" % (i % 200, i) for i in range(count)]


def write_release(folder, fill):
    for i, name in enumerate(names()):
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(bytes([(i + fill) % 251]) * (size + fill))


def nginx(root, work):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    conf = os.path.join(work, "nginx.conf")
    temps = "".join("  %s_temp_path %s/%s;\n" % (t, work, t) for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(conf, "w") as f:
        f.write("daemon off;\nmaster_process off;\nworker_processes 1;\npid %s/nginx.pid;\n"
                "error_log %s/error.log warn;\nevents { worker_connections 256; }\n"
                "http {\n  sendfile on;\n  access_log off;\n  default_type application/octet-stream;\n%s"
                "  server {\n    listen 127.0.0.1:%d;\n    root %s;\n  }\n}\n" % (work, work, temps, port, root))
    process = subprocess.Popen(["/usr/sbin/nginx", "-p", work, "-c", conf, "-e", work + "/error.log"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process, "http://127.0.0.1:%d/" % port
        except OSError:
            time.sleep(0.05)
    sys.exit("nginx did not start")


def mixed_seconds(folder):
    """The spread of the updated files' change times: from the first rename to the last."""
    times = [os.stat(os.path.join(folder, name)).st_ctime_ns for name in names()]
    if os.environ.get("BENCH_DEBUG"):
        ordered = sorted(times)
        print([round((ordered[int(q * (len(ordered) - 1))] - ordered[0]) / 1e9, 3) for q in (0, .01, .1, .5, .9, .99, 1)])
    return (max(times) - min(times)) / 1e9


def check_new(folder, new):
    for name in names()[:: max(1, count // 50)]:
        with open(os.path.join(folder, name), "rb") as a, open(os.path.join(new, name), "rb") as b:
            if a.read() != b.read():
                sys.exit("%s was not updated in %s" % (name, folder))


def run(args, cwd=None):
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run(args, cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


work = tempfile.mkdtemp(prefix="bench-switch-")
server = None
try:
    old, new = os.path.join(work, "old"), os.path.join(work, "new")
    write_release(old, 0)
    write_release(new, 1)
    with open(os.path.join(new, "update.txt"), "w", newline="") as f:
        f.write("Ironvale 3D update list\r\n")
        for name in names():
            f.write("\\%s\r\n%d\r\n" % (name.replace("/", "\\"), size + 1))
    server, site = nginx(new, work)
    figures = {"renewel": [], "rsync": []}
    for _ in range(rounds):
        install = os.path.join(work, "install")
        shutil.copytree(old, install)
        shutil.copy(renewel, install)
        with open(os.path.join(install, "renewel.lng"), "w") as f:
            f.write("#UpdateSite %s\r\n" % site)
        whole = run([os.path.join(install, "renewel"), "quiet"], install)
        check_new(install, new)
        figures["renewel"].append((mixed_seconds(install), whole))
        shutil.rmtree(install)

        copy = os.path.join(work, "copy")
        shutil.copytree(old, copy)
        whole = run(["rsync", "-a", "--delay-updates", "--exclude", "update.txt", new + "/", copy + "/"])
        check_new(copy, new)
        figures["rsync"].append((mixed_seconds(copy), whole))
        shutil.rmtree(copy)
    best = {tool: (min(m for m, _ in runs), min(w for _, w in runs)) for tool, runs in figures.items()}
    print("%d files of %d bytes, every one changed; best of %d" % (count, size, rounds))
    print("%-34s %10s %12s" % ("", "mixed (s)", "whole run (s)"))
    print("%-34s %10.3f %12.3f" % ("renewel quiet (over HTTP)", *best["renewel"]))
    print("%-34s %10.3f %12.3f" % ("rsync -a --delay-updates (local)", *best["rsync"]))
    ratio = best["renewel"][0] / best["rsync"][0] if best["rsync"][0] > 0 else float("inf")
    print("mixed: renewel / rsync = %.2f; whole run: renewel / rsync = %.2f" % (ratio, best["renewel"][1] / best["rsync"][1]))
finally:
    if server:
        server.terminate()
        server.wait()
    shutil.rmtree(work, ignore_errors=True)
