#!/usr/bin/env python3
"""Runs the Node.js package's tests (clients/node/test) with node --test against the built tool
and a private sound server playing the test tones, and checks that npm would pack only the
package's own files.

Usage: node_client_e2e.py PATH-TO-tessaloquin-audio-capture PACKAGE-FOLDER
"""

import json
import os
import shutil
import subprocess
import sys

from e2e_support import run_suite

TEST_FILES = ("test/fake-tool.test.js", "test/tool.test.js")  # Node 18 takes no globs
PACKED = {"package.json", "index.js", "index.d.ts", "README.md"}


def node_tests(f, binary, server, root):
    package = sys.argv[2]
    env = dict(server.env, TESSALOQUIN_AUDIO_CAPTURE=binary, TEST_FOLDER=root)
    result = subprocess.run(["node", "--test", *TEST_FILES], cwd=package, env=env,
                            capture_output=True, text=True, timeout=120)
    if not f.check(result.returncode == 0, "node --test failed"):
        print(result.stdout[-6000:], result.stderr[-2000:])

    f.group = "npm pack"
    if not f.check(shutil.which("npm") is not None, "npm is not installed"):
        return
    # A cache of its own, so that the check writes nothing into the user's.
    packed = subprocess.run(["npm", "pack", "--dry-run", "--json"], cwd=package,
                            capture_output=True, text=True,
                            env=dict(os.environ, npm_config_cache=os.path.join(root, "npm")))
    if f.check(packed.returncode == 0, f"npm pack: {packed.stderr[-500:]}"):
        files = {entry["path"] for entry in json.loads(packed.stdout)[0]["files"]}
        f.check(files == PACKED, f"npm packs {sorted(files)}, not {sorted(PACKED)}")


if __name__ == "__main__":
    run_suite("node client", (node_tests,), arguments=2)
