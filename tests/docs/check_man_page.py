#!/usr/bin/env python3
"""Checks the built manual page: it renders without a warning, its footer names the version,
and it documents every option, record, record code and error code that README.md lists, so
that the two cannot drift apart.

Usage: check_man_page.py MAN-PAGE README VERSION
"""

import re
import subprocess
import sys


def headed(text, macro):
    """(heading, text under it) for each `macro` heading (.SH, .SS) of `text`, in order."""
    parts = re.split(rf'^\{macro} +"?(.*?)"?[ \t]*$', text, flags=re.M)
    return list(zip(parts[1::2], parts[2::2]))


def bold_words(text):
    """Every word the page sets in bold, by .B, .BR, .RB, .BI or .IB."""
    lines = re.findall(r"^\.(?:B|BR|RB|BI|IB)\s+(.*)$", text, re.M)
    return {word for line in lines for word in re.findall(r"[^\s\"]+", line.replace("\\-", "-"))}


def error_codes(text):
    """(domain, code) of every .TP tag under each .SS domain heading of the page."""
    return {(domain, code) for domain, body in headed(text, ".SS")
            for code in re.findall(r"^\.TP\n\.B (\d+)$", body, re.M)}


def readme_facts(readme):
    # The options table's rows, and the usage lines.
    options = set(re.findall(r"^\| `(--[a-z][a-z-]*)", readme, re.M))
    for usage in re.findall(r"^tessaloquin-audio-capture (.*)$", readme, re.M):
        options.update(re.findall(r"--[a-z][a-z-]*", usage))
    kinds = set(re.findall(r'"event":"([a-z_]+)"', readme))
    codes = set(re.findall(r'"code":"([a-z_]+)"', readme))
    errors = set(re.findall(r"^\| `([A-Za-z.]+)` \| (\d+) \|", readme, re.M))
    return options, kinds, codes, errors


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    page_path, readme_path, version = sys.argv[1:]
    page = open(page_path, encoding="utf-8").read()
    readme = open(readme_path, encoding="utf-8").read()
    problems = []

    rendered = subprocess.run(["groff", "-man", "-ww", "-z", page_path], capture_output=True,
                              text=True)
    if rendered.returncode != 0 or rendered.stderr:
        problems.append(f"groff warns: {rendered.stderr.strip() or rendered.returncode}")
    title = next((line for line in page.splitlines() if line.startswith(".TH ")), "")
    if f'"tessaloquin-audio-capture {version}"' not in title:
        problems.append(f"the footer does not name version {version}: {title!r}")

    parts = dict(headed(page, ".SH"))
    options, kinds, codes, errors = readme_facts(readme)
    if not options or not kinds or not codes or not errors:
        problems.append("README.md lists no options, records, codes or errors: its form changed")
    output = bold_words(parts.get("OUTPUT", ""))
    problems += [f"option {option} is not under OPTIONS"
                 for option in sorted(options - bold_words(parts.get("OPTIONS", "")))]
    problems += [f'record "{kind}" is not under OUTPUT' for kind in sorted(kinds - output)]
    problems += [f'code "{code}" is not under OUTPUT' for code in sorted(codes - output)]
    problems += [f"error {domain} {code} is not under ERRORS (.SS {domain}, .TP, .B {code})"
                 for domain, code in sorted(errors - error_codes(parts.get("ERRORS", "")))]

    for problem in problems:
        print("the manual page lacks or fails:", problem)
    print("man page:", "failed" if problems else "passed")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
