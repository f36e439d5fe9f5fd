#!/usr/bin/env python3
"""renewel's up-to-date check with and without its installed-state record, and its quiet start-up.

    bench/bench_state.py [BUILD_DIR] [FILES] [BYTES_PER_FILE]

Makes a release of FILES files (default 20,000 of 4 KiB), publishes it with renewel-publish, serves
it with nginx on a free loopback port and installs it. Then, best of three each, in the same run:
  - renewel check against the same list without update.sums (today's size-only comparison) and
    with update.sums and a valid record: the record's cost as a ratio;
  - renewel check with update.sums and no record (every file hashed) against sha256sum run on
    two processes over the same files;
  - renewel quiet with nothing to do (a two-file installation) against a bare Qt Widgets window:
    time and peak memory.
"""
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/release")
count = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
size = int(sys.argv[3]) if len(sys.argv) > 3 else 4096
renewel = os.path.join(build, "renewel", "renewel")
publish = os.path.join(build, "publish", "renewel-publish")
floor = os.path.join(build, "bench", "bench_window_floor")
debug = os.environ.get("BENCH_DEBUG")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1")


class Nginx:
    """nginx serving a folder on a free loopback port with a throw-away configuration, as the
    tests and bench_update run it: start-up is then measured against a fast server."""

    def __init__(self, root):
        self.dir = tempfile.mkdtemp(prefix="bench-nginx-")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        d = self.dir
        temps = "".join("  %s_temp_path %s/%s;\n" % (t, d, t) for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
        with open(os.path.join(d, "nginx.conf"), "w") as f:
            f.write("daemon off;\nmaster_process off;\nworker_processes 1;\npid %s/nginx.pid;\n"
                    "error_log %s/error.log warn;\nevents { worker_connections 256; }\n"
                    "http {\n  sendfile on;\n  access_log off;\n  default_type application/octet-stream;\n%s"
                    "  server {\n    listen 127.0.0.1:%d;\n    root %s;\n  }\n}\n" % (d, d, temps, self.port, os.path.abspath(root)))
        self.process = subprocess.Popen(["/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        else:
            sys.exit("nginx did not start")

    def shutdown(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


servers = []


def serve(root):
    server = Nginx(root)
    servers.append(server)
    return server, "http://127.0.0.1:%d/" % server.port


def timed(args, cwd=None):
    """Best of three: seconds and the peak resident memory (KiB) of the process."""
    best = None
    for _ in range(3):
        start = time.perf_counter()
        child = subprocess.Popen(args, cwd=cwd, env=env, stdout=subprocess.PIPE if debug else subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit("%s failed (%d) %s" % (" ".join(args), child.returncode, child.stdout.read()[-300:] if debug else ""))
        best = min(best or (seconds, usage.ru_maxrss), (seconds, usage.ru_maxrss))
    return best


def language(folder, site):
    with open(os.path.join(folder, "renewel.lng"), "w") as f:
        f.write("#UpdateSite %s\r\n#panel Updating\r\n#STatus2 Loading\r\n" % site)


work = tempfile.mkdtemp(prefix="bench-state-")
try:
    release, install = os.path.join(work, "release"), os.path.join(work, "install")
    rnd = random.Random(1)
    for i in range(count):
        path = os.path.join(release, "d%03d" % (i % 200), "f%05d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rnd.randbytes(size))
    subprocess.run([publish, release, os.path.join(work, "site")], check=True, stdout=subprocess.DEVNULL)
    bare = os.path.join(work, "bare")  # the same list without checksums: the size rule
    os.makedirs(bare)
    shutil.copy(os.path.join(work, "site", "update.txt"), bare)
    shutil.copytree(release, install)
    shutil.copy(renewel, install)
    installed = os.path.join(install, "renewel")  # it updates the folder it lives in
    summed, summed_url = serve(os.path.join(work, "site"))
    sized, sized_url = serve(bare)

    language(install, sized_url)
    size_only = timed([installed, "check"], install)
    language(install, summed_url)
    subprocess.run([installed, "quiet"], cwd=install, env=env, check=True, stderr=subprocess.DEVNULL)  # writes the record
    with_record = timed([installed, "check"], install)
    state = os.path.join(install, "renewel.state")
    saved = state + ".saved"
    os.rename(state, saved)
    no_record = timed([installed, "check"], install)
    os.rename(saved, state)
    files = [os.path.join(dp, n) for dp, _, ns in os.walk(release) for n in ns]
    listing = os.path.join(work, "files.txt")
    with open(listing, "w") as f:
        f.write("\n".join(files))
    sha = timed(["sh", "-c", "xargs -P2 -n %d sha256sum < %s > /dev/null" % (len(files) // 2 + 1, listing)])
    # Start-up with nothing to do, on a small installation: the program's own cost.
    small = os.path.join(work, "small")
    os.makedirs(small)
    for name in ("readme.txt", "game.dat"):
        shutil.copy(files[0], os.path.join(small, name))
    subprocess.run([publish, small, os.path.join(work, "smallsite")], check=True, stdout=subprocess.DEVNULL)
    tiny, tiny_url = serve(os.path.join(work, "smallsite"))
    smallinstall = os.path.join(work, "smallinstall")
    shutil.copytree(small, smallinstall)
    shutil.copy(renewel, smallinstall)
    language(smallinstall, tiny_url)
    quiet = timed([os.path.join(smallinstall, "renewel"), "quiet"], smallinstall)
    window = timed([floor])
    tiny.shutdown()

    print("renewel state benchmark: %d files of %d bytes" % (count, size))
    print("  up-to-date check, size only        %7.3f s" % size_only[0])
    print("  up-to-date check, record           %7.3f s   ratio %.2f (target <= 1.2)" % (with_record[0], with_record[0] / size_only[0]))
    print("  check without record (hash all)    %7.3f s" % no_record[0])
    print("  sha256sum on two processes         %7.3f s   ratio %.2f (target <= 1.0)" % (sha[0], no_record[0] / sha[0]))
    print("  renewel quiet, nothing to do (2 files) %5.3f s  %7d KiB" % quiet)
    print("  bare Qt Widgets window             %7.3f s  %7d KiB" % window)
    print("  quiet start-up ratio               time %.2f, memory %.2f (target <= 2)" % (quiet[0] / window[0], quiet[1] / window[1]))
    summed.shutdown()
    sized.shutdown()
finally:
    for server in servers:
        server.shutdown()
    shutil.rmtree(work, ignore_errors=True)
