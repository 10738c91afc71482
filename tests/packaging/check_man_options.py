#!/usr/bin/env python3
"""Checks a manual page against its program: every option that `PROGRAM --help` lists has an entry in the page's
OPTIONS section and every entry there is an option the program lists; the page has the sections a user looks
for, and man renders it without warnings.

Usage: check_man_options.py PROGRAM MAN_PAGE
"""
import os
import re
import shutil
import subprocess
import sys

REQUIRED_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "ENVIRONMENT", "FILES"]
OPTION = re.compile(r"(?<![\w-])(--[A-Za-z][\w-]*|-[A-Za-z](?![\w-]))")


def help_options(program):
    """The options in the option column of the help text: the leading words of lines that start with a dash."""
    text = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60, check=True).stdout
    options = set()
    for line in text.splitlines():
        stripped = line.strip()
        if not stripped.startswith("-"):
            continue
        # The option column ends where two spaces begin the explanation.
        column = re.split(r"\s{2,}", stripped, maxsplit=1)[0]
        options.update(filter(None, map(option_name, re.split(r",\s*|\s", column))))
    return options


def option_name(word):
    """The option a word names ("-D" for every property), or None."""
    if word.startswith("-D") and not word.startswith("--"):
        return "-D"
    match = OPTION.match(word)
    return match.group(1) if match else None


def man_sections(source):
    sections, name = {}, None
    for line in source.splitlines():
        if line.startswith(".SH "):
            name = line[4:].strip().strip('"')
            sections[name] = []
        elif name:
            sections[name].append(line)
    return sections


def man_options(lines):
    """The options named in the tag line of each .TP entry."""
    options = set()
    for i, line in enumerate(lines):
        if line.strip() != ".TP" or i + 1 >= len(lines):
            continue
        tag = lines[i + 1].replace("\\-", "-")
        tag = re.sub(r"^\.[A-Z]+\s+", "", tag)
        options.update(filter(None, map(option_name, re.findall(r"-[\w-]+", tag))))
    return options


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    program, page = sys.argv[1], sys.argv[2]
    name = os.path.basename(program)
    with open(page, encoding="utf-8") as f:
        source = f.read()
    sections = man_sections(source)
    failures = []
    for section in REQUIRED_SECTIONS:
        if section not in sections:
            failures.append(f"{page}: no section .SH \"{section}\"")
    listed = help_options(program)
    described = man_options(sections.get("OPTIONS", []))
    if not listed:
        failures.append(f"`{name} --help` lists no options: the help text could not be read")
    for option in sorted(listed - described):
        failures.append(f"{page}: the option {option} is missing; `{name} --help` lists it. "
                        f"Add a .TP entry for {option} to the OPTIONS section of {name}(1).")
    for option in sorted(described - listed):
        failures.append(f"{page}: the OPTIONS section describes {option}, which `{name} --help` does not list. "
                        f"Remove it from {name}(1) or add it to the help text.")

    man = shutil.which("man")
    if man:
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        rendered = subprocess.run([man, "--warnings", "-E", "UTF-8", "-l", page], capture_output=True, text=True,
                                  env=env, timeout=60)
        if rendered.returncode != 0 or rendered.stderr.strip():
            failures.append(f"{page}: man --warnings reports: {rendered.stderr.strip()}")
    else:
        print("man is not installed (scripts/setup installs man-db): the rendering was not checked")

    for failure in failures:
        print(failure)
    if failures:
        return 1
    print(f"{page}: all {len(listed)} options of `{name} --help` are described: {' '.join(sorted(listed))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
