#!/usr/bin/env python3
"""Builds Quorna's help document and manual pages from one source text.

    build_manual.py --manual doc/manual/quorna.md --pages doc/man --images doc/images \
                    --out BUILD/doc --version 1.0.3

Writes into --out:
  quorna-help.html    the help window's document (the program's Qt resource and share/doc)
  quorna_help.qrc     the resource list: the document and every picture it shows
  NAME.1, NAME.1.gz   one troff manual page per PAGE.1.md in --pages

The source is a small Markdown: "#", "##" and "###" headings, each with an anchor "{#name}";
paragraphs; "- " and "1. " lists; "|" tables whose second line is "|---|"; code blocks indented by four
blanks; a line "![caption](images/file.png)" for a picture; inline `code`, **bold**, *italic* and
[text](#anchor). A page source holds the same markup under a first line
"% NAME SECTION DATE TITLE" and may say "@include anchor" on a line of its own: that section's text
(without its heading) stands there, so the manual and the pages share every overlapping word.

Fails (exit 1, one line on standard error per fault) on a link or an @include to an anchor that
does not exist, an anchor defined twice, or a picture that is missing.
"""

import argparse
import gzip
import html
import os
import re
import sys

HEADING = re.compile(r"^(#{1,3}) (.*?) \{#([a-z0-9-]+)\}\s*$")
IMAGE = re.compile(r"^!\[(.*)\]\((images/[A-Za-z0-9_.-]+\.png)\)\s*$")
INLINE = re.compile(r"(`[^`]+`|\*\*[^*]+\*\*|\*[^*\s][^*]*\*|\[[^\]]+\]\(#[a-z0-9-]+\))")

faults = []


class Block:
    """One block of the source: heading, para, list, table, code or image."""

    def __init__(self, kind, **fields):
        self.kind = kind
        self.__dict__.update(fields)


def parse(lines, where):
    """Splits the source lines into blocks. Lines of a paragraph or list item join with a blank."""
    blocks = []
    i = 0
    n = len(lines)
    while i < n:
        line = lines[i].rstrip("\n")
        if not line.strip():
            i += 1
            continue
        m = HEADING.match(line)
        if m:
            blocks.append(Block("heading", level=len(m.group(1)), text=m.group(2), anchor=m.group(3)))
            i += 1
            continue
        if line.startswith("#"):
            faults.append(f"{where}:{i + 1}: a heading needs an anchor {{#name}}")
            i += 1
            continue
        m = IMAGE.match(line)
        if m:
            blocks.append(Block("image", caption=m.group(1), path=m.group(2)))
            i += 1
            continue
        if line.startswith("@include "):
            blocks.append(Block("include", anchor=line.split()[1], line=i + 1))
            i += 1
            continue
        if line.startswith("    "):
            code = []
            while i < n and (lines[i].startswith("    ") or not lines[i].strip()):
                code.append(lines[i].rstrip("\n")[4:])
                i += 1
            while code and not code[-1].strip():
                code.pop()
            blocks.append(Block("code", lines=code))
            continue
        if line.startswith("|"):
            rows = []
            while i < n and lines[i].startswith("|"):
                cells = [c.strip() for c in lines[i].strip().strip("|").split("|")]
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            blocks.append(Block("table", header=rows[0], rows=rows[1:]))
            continue
        if re.match(r"^\d+\. ", line):
            items = []
            while i < n and lines[i].strip() and not HEADING.match(lines[i]):
                text = lines[i].strip()
                if re.match(r"^\d+\. ", text):
                    items.append(text.split(" ", 1)[1])
                else:
                    items[-1] += " " + text
                i += 1
            blocks.append(Block("steps", items=items))
            continue
        if line.startswith("- "):
            items = []
            while i < n and lines[i].strip() and not HEADING.match(lines[i]):
                text = lines[i].strip()
                if text.startswith("- "):
                    items.append(text[2:])
                else:
                    items[-1] += " " + text
                i += 1
            blocks.append(Block("list", items=items))
            continue
        para = []
        while (i < n and lines[i].strip() and not lines[i].startswith(("#", "|", "- ", "    ", "![", "@include"))
               and not re.match(r"^\d+\. ", lines[i])):
            para.append(lines[i].strip())
            i += 1
        blocks.append(Block("para", text=" ".join(para)))
    return blocks


def sections(blocks):
    """Anchor -> the heading and the blocks under it, up to the next heading."""
    found = {}
    for k, b in enumerate(blocks):
        if b.kind != "heading":
            continue
        body = []
        for later in blocks[k + 1:]:
            # A section's own text ends at its first subsection; a page includes those one by one.
            if later.kind == "heading":
                break
            body.append(later)
        found[b.anchor] = (b, body)
    return found


# ---------------------------------------------------------------------------------------------
# HTML for Qt's rich text (QTextBrowser): plain HTML 4 tags, anchors as <a name>.

def html_inline(text):
    out = []
    pos = 0
    for m in INLINE.finditer(text):
        out.append(html.escape(text[pos:m.start()], quote=False))
        token = m.group(0)
        if token.startswith("`"):
            out.append("<code>" + html.escape(token[1:-1], quote=False) + "</code>")
        elif token.startswith("**"):
            out.append("<b>" + html_inline(token[2:-2]) + "</b>")
        elif token.startswith("*"):
            out.append("<i>" + html_inline(token[1:-1]) + "</i>")
        else:
            label, target = re.match(r"\[([^\]]+)\]\((#[a-z0-9-]+)\)", token).groups()
            out.append(f'<a href="{target}">{html_inline(label)}</a>')
        pos = m.end()
    out.append(html.escape(text[pos:], quote=False))
    return "".join(out)


def to_html(blocks, title, version):
    out = ["<!DOCTYPE html>", "<html>", "<head>", '<meta charset="utf-8">', f"<title>{html.escape(title)}</title>",
           "<style>", "table { border-collapse: collapse; }", "th, td { padding: 2px 6px; vertical-align: top; }",
           "th { text-align: left; background-color: #e8e8e8; }", "code { font-family: monospace; }", "</style>",
           "</head>", "<body>"]
    toc_done = False
    for b in blocks:
        if b.kind == "heading":
            if b.level == 2 and not toc_done:
                # The contents, where "Help Index" opens the document.
                out.append('<h2><a name="index"></a>Contents</h2>')
                out.append("<ul>")
                for h in blocks:
                    if h.kind == "heading" and h.level == 2:
                        out.append(f'<li><a href="#{h.anchor}">{html_inline(h.text)}</a></li>')
                out.append("</ul>")
                toc_done = True
            tag = f"h{b.level}"
            out.append(f'<{tag}><a name="{b.anchor}"></a>{html_inline(b.text)}</{tag}>')
            if b.level == 1:
                out.append(f"<p>Version {html.escape(version)}</p>")
        elif b.kind == "para":
            out.append(f"<p>{html_inline(b.text)}</p>")
        elif b.kind == "list":
            out.append("<ul>")
            out.extend(f"<li>{html_inline(item)}</li>" for item in b.items)
            out.append("</ul>")
        elif b.kind == "steps":
            out.append("<ol>")
            out.extend(f"<li>{html_inline(item)}</li>" for item in b.items)
            out.append("</ol>")
        elif b.kind == "table":
            out.append('<table border="1" cellspacing="0" cellpadding="3">')
            out.append("<tr>" + "".join(f"<th>{html_inline(c)}</th>" for c in b.header) + "</tr>")
            for row in b.rows:
                out.append("<tr>" + "".join(f"<td>{html_inline(c)}</td>" for c in row) + "</tr>")
            out.append("</table>")
        elif b.kind == "code":
            out.append("<pre>" + html.escape("\n".join(b.lines), quote=False) + "</pre>")
        elif b.kind == "image":
            out.append(f'<p><img src="{b.path}" alt="{html.escape(b.caption)}"><br><i>{html_inline(b.caption)}</i></p>')
    out += ["</body>", "</html>", ""]
    return "\n".join(out)


# ---------------------------------------------------------------------------------------------
# troff with the man macros.

def roff_escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return text


def roff_inline(text):
    out = []
    pos = 0
    for m in INLINE.finditer(text):
        out.append(roff_escape(text[pos:m.start()]))
        token = m.group(0)
        if token.startswith("`"):
            out.append("\\fB" + roff_escape(token[1:-1]) + "\\fR")
        elif token.startswith("**"):
            out.append("\\fB" + roff_inline(token[2:-2]) + "\\fR")
        elif token.startswith("*"):
            out.append("\\fI" + roff_inline(token[1:-1]) + "\\fR")
        else:
            out.append(roff_inline(re.match(r"\[([^\]]+)\]", token).group(1)))
        pos = m.end()
    out.append(roff_escape(text[pos:]))
    return "".join(out)


def roff_line(text):
    """A text line that troff will not take for a request."""
    return "\\&" + text if text.startswith((".", "'")) else text


def to_roff(header, blocks, included):
    name, section, date, title = header
    out = ['.\\" Generated from doc/manual and doc/man by doc/build_manual.py; edit those instead.',
           f'.TH {name.upper()} {section} "{date}" "Quorna" "{title}"']

    def emit(seq, depth):
        for b in seq:
            if b.kind == "include":
                if b.anchor not in included:
                    faults.append(f"{name}.{section}: @include {b.anchor}: no such section in the manual")
                    continue
                emit(included[b.anchor][1], depth + 1)
            elif b.kind == "heading":
                # Page headings are sections; headings inside included text become subsections.
                if depth == 0 and b.level <= 2:
                    out.append(f".SH {roff_inline(b.text).upper()}")
                else:
                    out.append(f'.SS "{roff_inline(b.text)}"')
            elif b.kind == "para":
                out.append(".PP")
                out.append(roff_line(roff_inline(b.text)))
            elif b.kind == "list":
                for item in b.items:
                    out.append(".IP \\(bu 2")
                    out.append(roff_line(roff_inline(item)))
                out.append(".PP")
            elif b.kind == "steps":
                for number, item in enumerate(b.items, 1):
                    out.append(f".IP {number}. 4")
                    out.append(roff_line(roff_inline(item)))
                out.append(".PP")
            elif b.kind == "table":
                # A table reads as a tagged list: the first cell the tag, the others its text.
                for row in b.rows:
                    out.append(".TP")
                    out.append(roff_line(roff_inline(row[0])))
                    cells = [roff_inline(c) for c in row[1:]]
                    heads = [roff_inline(h) for h in b.header[1:]]
                    parts = [f"{h}: {c}" for h, c in zip(heads[:-1], cells[:-1]) if c] + cells[-1:]
                    out.append(roff_line("; ".join(p for p in parts if p)))
                out.append(".PP")
            elif b.kind == "code":
                out.append(".PP")
                out.append(".RS 4")
                out.append(".nf")
                out.extend(roff_line(roff_escape(line)) for line in b.lines)
                out.append(".fi")
                out.append(".RE")
            # Pictures are left out of the pages.

    emit(blocks, 0)
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--manual", required=True)
    parser.add_argument("--pages", required=True)
    parser.add_argument("--images", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()

    with open(args.manual, encoding="utf-8") as f:
        blocks = parse(f.readlines(), args.manual)
    anchors = {}
    for b in blocks:
        if b.kind == "heading":
            if b.anchor in anchors or b.anchor == "index":
                faults.append(f"{args.manual}: the anchor {b.anchor} is defined twice")
            anchors[b.anchor] = b
    for b in blocks:
        texts = {"para": lambda: [b.text], "list": lambda: b.items, "steps": lambda: b.items,
                 "table": lambda: b.header + [c for r in b.rows for c in r]}.get(b.kind, lambda: [])()
        for text in texts:
            for target in re.findall(r"\]\(#([a-z0-9-]+)\)", text):
                if target not in anchors:
                    faults.append(f"{args.manual}: a link to #{target}, which no heading has")
    pictures = []
    for b in blocks:
        if b.kind == "image":
            path = os.path.join(args.images, os.path.basename(b.path))
            if not os.path.isfile(path):
                faults.append(f"{args.manual}: the picture {b.path} is missing ({path})")
            elif b.path not in [p for p, _ in pictures]:
                pictures.append((b.path, os.path.abspath(path)))

    title = next((b.text for b in blocks if b.kind == "heading" and b.level == 1), "Quorna")
    included = sections(blocks)
    pages = {}
    for entry in sorted(os.listdir(args.pages)):
        if not entry.endswith(".md"):
            continue
        with open(os.path.join(args.pages, entry), encoding="utf-8") as f:
            lines = f.readlines()
        header = lines[0].lstrip("% ").rstrip("\n").split(" ", 3)
        if not lines[0].startswith("% ") or len(header) != 4:
            faults.append(f"{entry}: the first line must be '% NAME SECTION DATE TITLE'")
            continue
        pages[entry[:-3]] = to_roff(header, parse(lines[1:], entry), included)

    if faults:
        for fault in faults:
            print(fault, file=sys.stderr)
        return 1

    os.makedirs(args.out, exist_ok=True)

    def write(name, text):
        with open(os.path.join(args.out, name), "w", encoding="utf-8") as f:
            f.write(text)

    write("quorna-help.html", to_html(blocks, title, args.version))
    qrc = ["<!DOCTYPE RCC>", '<RCC version="1.0">', '  <qresource prefix="/help">',
           f'    <file alias="quorna-help.html">{os.path.abspath(os.path.join(args.out, "quorna-help.html"))}</file>']
    qrc += [f'    <file alias="{alias}">{path}</file>' for alias, path in pictures]
    qrc += ["  </qresource>", "</RCC>", ""]
    write("quorna_help.qrc", "\n".join(qrc))
    for page, text in pages.items():
        write(page, text)
        with open(os.path.join(args.out, page + ".gz"), "wb") as raw:
            with gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0) as gz:
                gz.write(text.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
