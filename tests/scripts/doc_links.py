#!/usr/bin/python3
"""Every relative link in the Markdown files of the source tree leads to a
file that exists and, with #anchor, to a heading of that file (GitHub's
anchors: lower case, punctuation dropped, blanks as hyphens, -1, -2, ... for
repeats). Links to other sites are not followed.
Usage: doc_links.py SOURCE_DIR"""
import os
import re
import sys

SKIP_DIRS = {".git", "corpus"}
LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")


def prose_lines(path):
    """(line number, text) of the lines outside code blocks."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    fenced = False
    previous_blank = True
    indented = False
    for number, line in enumerate(lines, 1):
        if FENCE.match(line):
            fenced = not fenced
            continue
        blank = line.strip() == ""
        # An indented code block starts after a blank line and runs while
        # lines stay indented by four or more (or are blank).
        if line.startswith(("    ", "\t")) and (previous_blank or indented):
            indented = True
        elif not blank:
            indented = False
        previous_blank = blank
        if fenced or indented or blank:
            continue
        yield number, line


def slug(heading):
    """GitHub's anchor for a heading's text."""
    text = re.sub(r"`", "", heading.strip().lower())
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


ANCHORS = {}


def anchors(path):
    """The anchors of the headings of a Markdown file."""
    if path not in ANCHORS:
        found, seen = set(), {}
        for _, line in prose_lines(path):
            m = re.match(r"^ {0,3}#{1,6}\s+(.*?)\s*#*\s*$", line)
            if not m:
                continue
            base = slug(m.group(1))
            n = seen.get(base, 0)
            seen[base] = n + 1
            found.add(base if n == 0 else f"{base}-{n}")
        ANCHORS[path] = found
    return ANCHORS[path]


def main():
    root = os.path.realpath(sys.argv[1])
    bad = []
    checked = 0
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not d.startswith("build"))
        for name in sorted(files):
            if not name.endswith(".md"):
                continue
            path = os.path.join(folder, name)
            shown = os.path.relpath(path, root)
            for number, line in prose_lines(path):
                for target in LINK.findall(re.sub(r"`+[^`]*`+", "", line)):
                    if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                        continue  # another site, or mailto:
                    checked += 1
                    file_part, _, anchor = target.partition("#")
                    dest = os.path.normpath(os.path.join(folder, file_part)) if file_part else path
                    if not os.path.exists(dest):
                        bad.append(f"{shown}:{number}: {target}: no such file")
                    elif anchor and dest.endswith(".md") and anchor not in anchors(dest):
                        bad.append(f"{shown}:{number}: {target}: no heading #{anchor}")
    for line in bad:
        print(line)
    print(f"{checked} links checked, {len(bad)} broken")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
