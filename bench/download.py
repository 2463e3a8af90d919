#!/usr/bin/env python3
"""Verified download against curl plus a hash pass.

A package (1 GiB by default) and its meta file are served by nginx on
loopback. Each pair runs our verified download (meta fetch, transfer, full
verification; build/bin/stub-download) and `curl -o FILE URL && sha1sum FILE`,
and the median ratio of wall times is printed with our peak resident memory.

    bench/download.py [--size-mib N] [--pairs N]
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_package(path, size):
    block = os.urandom(1 << 20)
    with open(path, "wb") as out:
        for index in range(size >> 20):
            # Every block differs, so no two blocks share a digest.
            out.write(index.to_bytes(8, "little") + block[8:])


def start_nginx(work, root, port):
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as out:
        out.write(f"""
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 64; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    server {{
        listen 127.0.0.1:{port};
        root {root};
    }}
}}
""")
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    server = subprocess.Popen([nginx, "-p", work, "-c", conf, "-g", "daemon off;"],
                              stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return server
        except OSError:
            time.sleep(0.05)
    server.kill()
    sys.exit("bench: nginx did not start")


def timed(command, shell=False):
    """Wall time and peak resident memory (KiB) of one command."""
    start = time.perf_counter()
    child = subprocess.Popen(command, shell=shell)
    _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"bench: {command} failed with status {status}")
    return elapsed, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--pairs", type=int, default=3)
    options = parser.parse_args()

    work = tempfile.mkdtemp(prefix="bench-download-")
    root = os.path.join(work, "www")
    os.makedirs(root)
    # nginx's workers may run as another user.
    os.chmod(work, 0o755)
    os.chmod(root, 0o755)
    package = os.path.join(root, "package.bin")
    server = None
    try:
        write_package(package, options.size_mib << 20)
        subprocess.run([os.path.join(BIN, "stub-meta"), package], check=True)
        for name in (package, package + ".meta"):
            os.chmod(name, 0o644)
        port = free_port()
        server = start_nginx(work, root, port)
        url = f"http://127.0.0.1:{port}/package.bin"
        ours_file = os.path.join(work, "ours.bin")
        curl_file = os.path.join(work, "curl.bin")
        ratios, peaks = [], []
        for pair in range(options.pairs):
            for name in (ours_file, curl_file):
                if os.path.exists(name):
                    os.remove(name)
            ours, peak = timed([os.path.join(BIN, "stub-download"), url, ours_file])
            reference, _ = timed(f"curl -s -o '{curl_file}' '{url}' && sha1sum '{curl_file}' >/dev/null",
                                 shell=True)
            ratios.append(ours / reference)
            peaks.append(peak)
            print(f"pair {pair + 1}: ours {ours:.2f} s, curl + sha1sum {reference:.2f} s, "
                  f"ratio {ours / reference:.2f}, peak memory {peak / 1024:.1f} MiB")
        print(f"median ratio {statistics.median(ratios):.2f} (target <= 1.0); "
              f"peak memory {max(peaks) / 1024:.1f} MiB (target <= 64 MiB)")
    finally:
        if server:
            server.terminate()
            server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
