#!/usr/bin/env python3
"""Checks the built user manual.

    manual_check.py BUILT_MANUAL_DIR SOURCE_ROOT

- every chapter (docs/manual/*.md) is built, and every chapter is reached
  from the contents page;
- every link of every page leads to a page of the manual and, with an anchor,
  to a place that exists in it; every picture exists;
- every picture of docs/manual/images is shown somewhere and stays small;
- every chapter and place that the window's help names (ui/HelpTopics.cpp)
  exists;
- every message of the chapter "Сообщения и что делать" (its "###" headings;
  "…" stands for a number, name or path) is a text the program really says:
  each part occurs in the sources of the programs or in data/lang.
Prints every finding and exits with 1 when there is one.
"""
import html.parser
import os
import re
import sys
import urllib.parse

MAX_PICTURE_BYTES = 400 * 1024


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.anchors = set()
        self.links = []
        self.pictures = []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        for key in ("id", "name"):
            if a.get(key):
                self.anchors.add(a[key])
        if tag == "a" and a.get("href"):
            self.links.append(a["href"])
        if tag == "img" and a.get("src"):
            self.pictures.append(a["src"])


def parse(path):
    p = Page()
    with open(path, encoding="utf-8") as f:
        p.feed(f.read())
    return p


def program_texts(root):
    """The sources of the programs with adjacent string literals joined, and
    the language files (UTF-8 or code page 1251)."""
    texts = []
    for folder in ("core", "ui", "ctl"):
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                        texts.append(re.sub(r'"\s*\n\s*"', "", f.read()))
    lang = os.path.join(root, "data", "lang")
    for dirpath, _, files in os.walk(lang):
        for name in files:
            raw = open(os.path.join(dirpath, name), "rb").read()
            try:
                texts.append(raw.decode("utf-8"))
            except UnicodeDecodeError:
                texts.append(raw.decode("cp1251"))
    return "\n".join(texts)


def main():
    built, root = sys.argv[1], sys.argv[2]
    source = os.path.join(root, "docs", "manual")
    findings = []
    chapters = sorted(n[:-3] for n in os.listdir(source) if n.endswith(".md"))
    pages = {}
    for c in chapters:
        path = os.path.join(built, c + ".html")
        if not os.path.isfile(path):
            findings.append(f"{c}.md is not built ({path} missing)")
            continue
        pages[c + ".html"] = parse(path)

    shown = set()
    for name, page in pages.items():
        for link in page.links:
            url = urllib.parse.urlsplit(link)
            if url.scheme in ("http", "https", "mailto"):
                continue
            if url.scheme or url.netloc:
                findings.append(f"{name}: link {link} leaves the manual")
                continue
            target = urllib.parse.unquote(url.path) or name
            if target not in pages:
                findings.append(f"{name}: link {link} leads to no page of the manual")
            elif url.fragment and urllib.parse.unquote(url.fragment) not in pages[target].anchors:
                findings.append(f"{name}: link {link}: no place #{url.fragment} in {target}")
        for src in page.pictures:
            rel = urllib.parse.unquote(src)
            if not os.path.isfile(os.path.join(built, rel)):
                findings.append(f"{name}: picture {src} missing")
            shown.add(os.path.normpath(rel))

    # Every chapter is reached from the contents page.
    if "index.html" in pages:
        linked = {urllib.parse.urlsplit(l).path for l in pages["index.html"].links}
        for name in pages:
            if name != "index.html" and name not in linked:
                findings.append(f"index.html does not lead to {name}")

    images = os.path.join(source, "images")
    if os.path.isdir(images):
        for name in sorted(os.listdir(images)):
            rel = os.path.join("images", name)
            if rel not in shown:
                findings.append(f"picture {rel} is shown on no page")
            size = os.path.getsize(os.path.join(images, name))
            if size > MAX_PICTURE_BYTES:
                findings.append(f"picture {rel} has {size} bytes, more than {MAX_PICTURE_BYTES}")

    # The help window's chapters and places.
    with open(os.path.join(root, "ui", "HelpTopics.cpp"), encoding="utf-8") as f:
        topics = f.read()
    named = re.findall(r'"([a-z-]+\.html)(?:#([A-Za-z0-9_-]+))?"', topics)
    if not named:
        findings.append("ui/HelpTopics.cpp names no place of the manual")
    for file, anchor in named:
        if file not in pages:
            findings.append(f"ui/HelpTopics.cpp names {file}, which the manual lacks")
        elif anchor and anchor not in pages[file].anchors:
            findings.append(f"ui/HelpTopics.cpp names {file}#{anchor}, which is no place in it")

    # The messages are the program's own.
    texts = program_texts(root)
    messages = 0
    with open(os.path.join(source, "messages.md"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r"###\s+(.*?)\s*(\{#[^}]*\})?\s*$", line)
            if not m:
                continue
            messages += 1
            for part in m.group(1).split("…"):
                part = part.strip(" ,")
                if part and part not in texts:
                    findings.append(f"messages.md: «{part}» is said nowhere in the program")
    if messages == 0:
        findings.append("messages.md holds no message")

    for f in findings:
        print(f)
    print(f"{len(pages)} pages, {len(shown)} pictures, {messages} messages checked; {len(findings)} findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
