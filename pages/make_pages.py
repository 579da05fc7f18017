#!/usr/bin/env python3
"""Writes the three test pages, each one self-contained HTML file, from the sources in pages/src:

  page.html        the template: {{title}}, {{models}}, {{panels}}, {{reference}}, {{style}},
                   {{client}}, {{script}}
  style.css        the style sheet of every page
  page.js          the script every page shares
  <name>.page      what is the page's own, as "@@ <section>" blocks: title, models, panels (its command
                   panels after the identity-card ones), reference (its rows of the command table) and
                   script (its PAGE_COMMANDS); gives <name>.html
  the client library's UMD file (client/make_package.py), inlined, so that the pages and the library
                   cannot drift apart

  make_pages.py <output folder>

The output depends on the sources alone (no time, no environment, sorted order), so that two builds
give the same bytes.
"""

import os
import re
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCES = HERE / "src"
sys.path.insert(0, str(HERE.parent / "client"))
import make_package  # noqa: E402  (the client's own folder)
SECTIONS = ("title", "models", "panels", "reference", "script")
PLACEHOLDER = re.compile(r"\{\{([a-z]+)\}\}")


class SourceError(Exception):
    pass


def read(path):
    # newline="" keeps the bytes as written; sources are LF, and a CR would end up in the page.
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    if "\r" in text:
        raise SourceError(f"{path}: carriage return (the sources are LF only)")
    return text


def parse_page(path):
    """The sections of a .page file: {name: text}, each section's text ending in a newline (or empty)."""
    sections = {}
    name = None
    for number, line in enumerate(read(path).splitlines(keepends=True), 1):
        if line.startswith("@@ "):
            name = line[3:].strip()
            if name not in SECTIONS:
                raise SourceError(f"{path}:{number}: unknown section {name!r} (known: {', '.join(SECTIONS)})")
            if name in sections:
                raise SourceError(f"{path}:{number}: section {name!r} given twice")
            sections[name] = ""
        elif name is None:
            raise SourceError(f"{path}:{number}: text before the first section")
        else:
            sections[name] += line
    missing = [s for s in SECTIONS if s not in sections]
    if missing:
        raise SourceError(f"{path}: missing section(s) {', '.join(missing)}")
    for one_line in ("title", "models"):
        sections[one_line] = sections[one_line].strip()
        if not sections[one_line] or "\n" in sections[one_line]:
            raise SourceError(f"{path}: section {one_line!r} must be one line")
    return sections


def inline_script(text):
    # Inside <script> the HTML parser only looks for "</script" and "<!--": escaped as "<\/" and
    # "<\!--", which mean the same in JavaScript strings, comments and regular expressions.
    text = re.sub(r"</(script)", r"<\\/\1", text, flags=re.IGNORECASE)
    text = text.replace("<!--", "<\\!--")
    return text if text.endswith("\n") else text + "\n"


def inline_style(text, what):
    if re.search(r"</style", text, re.IGNORECASE):
        raise SourceError(f"{what}: </style inside the style sheet")
    if re.search(r"@import|@font-face|url\(\s*(?![\"']?data:)", text, re.IGNORECASE):
        raise SourceError(f"{what}: the style sheet loads something (only data: URLs are allowed)")
    return text if text.endswith("\n") else text + "\n"


def build_pages():
    """{file name: bytes} of every page, in name order."""
    template = read(SOURCES / "page.html")
    style = inline_style(read(SOURCES / "style.css"), "style.css")
    shared = read(SOURCES / "page.js")
    client = inline_script(make_package.umd_text())
    pages = {}
    for path in sorted(SOURCES.glob("*.page")):
        own = parse_page(path)
        values = {
            "title": own["title"],
            "models": own["models"],
            "panels": own["panels"],
            "reference": own["reference"],
            "style": style,
            "client": client,
            "script": inline_script(shared + "\n" + own["script"]),
        }

        def fill(match):
            key = match.group(1)
            if key not in values:
                raise SourceError(f"page.html: unknown placeholder {{{{{key}}}}}")
            return values[key]

        # One pass over the template only: the inserted texts are not searched for placeholders.
        pages[path.stem + ".html"] = PLACEHOLDER.sub(fill, template).encode("utf-8")
    if not pages:
        raise SourceError(f"no *.page file in {SOURCES}")
    return pages


def write(path, data):
    # Whole or not at all: the program serves these files as they are.
    temp = path.with_name(path.name + ".tmp")
    temp.write_bytes(data)
    os.replace(temp, path)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        print("usage: make_pages.py <output folder>", file=sys.stderr)
        return 2
    out = Path(argv[1])
    try:
        pages = build_pages()
    except (SourceError, OSError, UnicodeDecodeError) as error:
        print(f"make_pages.py: {error}", file=sys.stderr)
        return 1
    out.mkdir(parents=True, exist_ok=True)
    for name, data in pages.items():
        write(out / name, data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
