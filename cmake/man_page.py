#!/usr/bin/env python3
"""Writes the manual page varel(1) from README.md's "Using varel" section: its first
paragraph, the command table (one entry a row) and the notes on options and exit codes, so
that the README stays the one description of the commands and this only changes the markup.
Usage: python3 man_page.py README.md OUT VERSION PLUGIN-FOLDER"""
import re
import sys


def roff(text):
    """Markdown text to roff: code spans and bold in bold face, backslashes and the minus
    signs of code escaped, and no line that roff would take for a request."""
    text = text.replace("\\|", "|").replace("\\", "\\e")
    text = re.sub(r"\*\*([^*]+)\*\*", r"\\fB\1\\fR", text)
    text = re.sub(r"`([^`]*)`", lambda m: "\\fB" + m.group(1).replace("-", "\\-") + "\\fR", text)
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def using_varel(readme):
    """The section's first paragraph, its command rows and its Options and Exit codes notes."""
    section = re.search(r"^## Using varel\n(.*?)(?=^## )", readme, re.S | re.M)
    if section is None:
        sys.exit(f"man_page: no 'Using varel' section in {sys.argv[1]}")
    body = section.group(1)
    intro = body.strip().split("\n\n")[0]
    rows = []
    for line in body.splitlines():
        if line.startswith("| `varel"):
            cells = re.split(r"(?<!\\)\|", line)
            if len(cells) != 4 or cells[0] or cells[3]:
                sys.exit(f"man_page: cannot read the table row {line!r}")
            rows.append((cells[1].strip(), cells[2].strip()))
    notes = {}
    for name in ("Options", "Exit codes"):
        # "- **Exit codes**: text" gives the text; "- **Options** are ..." the whole sentence.
        note = re.search(r"^- \*\*(" + name + r")\*\*(:?) *(.*?)(?=^- |^\S|\Z)", body, re.S | re.M)
        if note is None:
            sys.exit(f"man_page: no '{name}' note under 'Using varel'")
        text = note.group(3) if note.group(2) else note.group(1) + " " + note.group(3)
        notes[name] = re.sub(r"\n +", "\n", text.strip())
    if not rows:
        sys.exit("man_page: no command table under 'Using varel'")
    return intro, rows, notes


def main():
    readme_path, out_path, version, plugin_folder = sys.argv[1:5]
    with open(readme_path, encoding="utf-8") as f:
        intro, rows, notes = using_varel(f.read())
    page = [
        f'.TH VAREL 1 "" "varel {version}" "User Commands"',
        ".SH NAME",
        "varel \\- list, extract, print and pack PSARC archives and PKG containers",
        ".SH SYNOPSIS",
        ".B varel",
        ".I COMMAND",
        "[\\fIOPTION\\fR...] [\\fIARGUMENT\\fR...]",
        ".br",
        ".B varel \\-\\-version",
        ".SH DESCRIPTION",
        roff(intro),
        ".SH COMMANDS",
    ]
    for command, what in rows:
        # A synopsis that wraps is set ragged: justified, it would gain spaces between words.
        page += [".TP", ".ad l", roff(command), ".ad b", roff(what)]
    page += [".SH OPTIONS", roff(notes["Options"])]
    page += [".SH EXIT STATUS", roff(notes["Exit codes"])]
    page += [
        ".SH FILES",
        ".TP",
        f".I {plugin_folder}/arc_varel.so",
        "the plug-in, loaded when there is none beside varel",
        ".TP",
        f".I {plugin_folder}/libvarelplat.so",
        "the platform library that varel and the plug-in share",
    ]
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(page) + "\n")


if __name__ == "__main__":
    main()
