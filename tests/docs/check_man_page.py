#!/usr/bin/env python3
"""Checks the built manual page: it renders without a warning, its footer names the version,
and it documents every option, record, record code and error code that README.md lists, so
that the two cannot drift apart.

Usage: check_man_page.py MAN-PAGE README VERSION
"""

import re
import subprocess
import sys


def sections(page):
    """The page's text under each .SH heading, by heading."""
    found, name = {}, None
    for line in page.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            found[name] = []
        elif name:
            found[name].append(line)
    return {key: "\n".join(lines) for key, lines in found.items()}


def bold_words(text):
    """Every word the page sets in bold, by .B, .BR, .RB, .BI or .IB."""
    words = set()
    for line in text.splitlines():
        macro = re.match(r"\.(B|BR|RB|BI|IB)\s+(.*)", line)
        if macro:
            words.update(re.findall(r"[^\s\"]+", macro.group(2).replace("\\-", "-")))
    return words


def error_codes(text):
    """(domain, code) of every .TP tag under each .SS domain heading of the page."""
    codes, domain, lines = set(), None, text.splitlines()
    for index, line in enumerate(lines):
        if line.startswith(".SS "):
            domain = line[4:].strip()
        elif line == ".TP" and domain and index + 1 < len(lines):
            tag = re.fullmatch(r"\.B (\d+)", lines[index + 1])
            if tag:
                codes.add((domain, tag.group(1)))
    return codes


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

    parts = sections(page)
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
