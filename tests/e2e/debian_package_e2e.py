#!/usr/bin/env python3
"""Builds the Debian package from BUILD-DIR with cpack, checks it with lintian, installs it with
apt-get (as root, or with sudo), probes and records two seconds with /usr/bin's tool against a
private sound server, and purges it again whatever happens.

Usage: debian_package_e2e.py BUILD-DIR
"""

import glob
import os
import signal
import subprocess
import sys
import tempfile

from e2e_support import (check_final, check_probe, movie_audio_seconds, record, run_suite,
                         top_level_boxes)

PACKAGE = "tessaloquin-audio-capture"
TOOL = "/usr/bin/tessaloquin-audio-capture"
INSTALLED = (TOOL, "/usr/share/man/man1/tessaloquin-audio-capture.1.gz",
             "/usr/share/doc/tessaloquin-audio-capture/copyright",
             "/usr/share/doc/tessaloquin-audio-capture/changelog.gz",
             "/usr/share/doc/tessaloquin-audio-capture/README.md",
             "/usr/share/doc/tessaloquin-audio-capture/examples/level_meter.py")


def as_root(*command):
    prefix = [] if os.geteuid() == 0 else ["sudo", "-n"]
    return subprocess.run(prefix + list(command), capture_output=True, text=True,
                          env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def output_of(*command):
    return subprocess.run(command, capture_output=True, text=True).stdout


def installed():
    return "install ok installed" in output_of("dpkg-query", "-W", "-f=${Status}", PACKAGE)


def build_package(f, build, folder):
    made = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-G",
                           "DEB", "-B", folder], capture_output=True, text=True)
    debs = glob.glob(os.path.join(folder, "*.deb"))
    f.check(made.returncode == 0 and len(debs) == 1, f"cpack: {made.stdout[-800:]} {made.stderr}")
    return debs[0] if debs else None


def check_package(f, deb):
    architecture = output_of("dpkg", "--print-architecture").strip()
    version = output_of("dpkg-deb", "-f", deb, "Version").strip()
    f.check(os.path.basename(deb) == f"{PACKAGE}_{version}_{architecture}.deb", f"named {deb}")
    depends = output_of("dpkg-deb", "-f", deb, "Depends")
    for needed in ("libgstreamer1.0-0", "libpulse0", "gstreamer1.0-plugins-good",
                   "gstreamer1.0-plugins-bad | gstreamer1.0-libav"):
        f.check(needed in depends, f"Depends lacks {needed}: {depends}")
    linted = subprocess.run(["lintian", "--fail-on", "error", deb], capture_output=True, text=True)
    print(linted.stdout.strip())
    f.check(linted.returncode == 0, f"lintian: {linted.stdout[-1500:]} {linted.stderr[-500:]}")


def use_installed(f, server, root):
    f.group = "installed"
    for path in INSTALLED:
        f.check(os.path.exists(path), f"{path} is not installed")
    check_probe(f, TOOL, server.env)
    f.group = "installed, recording"
    path = os.path.join(root, "installed.mov")
    run, status, span = record(TOOL, server.env, path, 2)
    check_final(f, run, status, "installed tool")
    audio = movie_audio_seconds(path)
    f.check(abs(audio - span) < 1.0, f"{audio:.2f} s of audio for {span:.2f} s")
    f.check(top_level_boxes(path)[-1:] == ["mfra"], "the movie was not finished")


def debian_package(f, build, server, root):
    f.group = "package"
    build = os.path.abspath(build)
    if not f.check(not installed(), f"{PACKAGE} is installed already; the test leaves it alone"):
        return
    deb = build_package(f, build, tempfile.mkdtemp(dir=root))
    if deb is None:
        return
    check_package(f, deb)
    # A failed or interrupted check must not leave the package on the machine.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    try:
        f.group = "install"
        result = as_root("apt-get", "install", "-y", deb)
        if f.check(result.returncode == 0, f"apt-get install: {result.stdout[-800:]} "
                                           f"{result.stderr[-800:]}"):
            use_installed(f, server, root)
    finally:
        f.group = "purge"
        result = as_root("apt-get", "purge", "-y", PACKAGE)
        f.check(result.returncode == 0 and not installed() and not os.path.exists(TOOL),
                f"apt-get purge: {result.stderr[-800:]}")


if __name__ == "__main__":
    run_suite("debian package", (debian_package,))
