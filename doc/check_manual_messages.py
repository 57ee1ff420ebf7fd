#!/usr/bin/env python3
"""Checks that the manual's troubleshooting section quotes every message the program can show.

    check_manual_messages.py SRC_DIR MANUAL.md

Collects the texts from the sources: string literals passed to messageBox, the constants whose
names end in Text, Texts or Message, the SQLSTATE table of connection failures and the formats
of the messages built with snprintf. A "%d" or "%s" in a text stands for anything in the manual
(it writes *N*, *PORT*, *TEXT*). Line breaks count as blanks, runs of blanks as one. Prints each
text the manual lacks and exits 1 if there is one.
"""

import pathlib
import re
import sys

LITERALS = r'((?:"(?:[^"\\]|\\.)*"\s*)+)'
PATTERNS = [
    re.compile(r"messageBox\(\s*" + LITERALS),
    re.compile(r"\bk\w*(?:Text|Message)\s*=\s*" + LITERALS),
    re.compile(r'\{"[0-9A-Z]{5}",\s*' + LITERALS + r"\}"),
    re.compile(r"snprintf\([^,]+,[^,]+,\s*" + LITERALS),
]
# Brace lists of texts: SessionFailureTexts kWriterSessionTexts{"...", "...", "..."}.
TEXT_LISTS = re.compile(r"\bk\w*Texts\s*\{([^}]*)\}")
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
# Texts the same patterns find in fields of windows rather than in message boxes: the scan's
# progress and the panel windows' serial number. Shorter texts (captions, numbers, formats of
# values) are told apart by having fewer than two words of letters.
NOT_MESSAGES = {"Searching: %d of %d", "Serial Number - %08u"}


def decode(literals):
    text = "".join(m.group(1) for m in LITERAL.finditer(literals))
    return (text.replace('\\"', '"').replace("\\r", " ").replace("\\n", " ").replace("\\t", " ")
            .replace("\\\\", "\\"))


def blanks(text):
    return re.sub(r"\s+", " ", text).strip()


def main():
    src, manual = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    texts = set()
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".cpp", ".h") or "/gui/" in str(path):
            continue
        code = path.read_text(encoding="utf-8")
        for pattern in PATTERNS:
            texts.update(decode(m.group(1)) for m in pattern.finditer(code))
        for m in TEXT_LISTS.finditer(code):
            texts.update(decode(lit.group(0)) for lit in LITERAL.finditer(m.group(1)))
    # The main window's own message.
    gui = (src / "gui" / "main" / "main_window_qt.cpp").read_text(encoding="utf-8")
    texts.update(decode(m.group(1)) for m in PATTERNS[0].finditer(gui))

    document = manual.read_text(encoding="utf-8")
    section = blanks(document[document.index("## Troubleshooting"):])
    missing = []
    texts = {t for t in texts if len(re.findall(r"\b[A-Za-z]{2,}\b", t)) >= 2 and t not in NOT_MESSAGES}
    for text in sorted(texts):
        pattern = re.escape(blanks(text)).replace("%d", ".+?").replace("%s", ".+?")
        if not re.search(pattern, section):
            missing.append(text)
    for text in missing:
        print(f"the troubleshooting table does not quote: {text}")
    print(f"{len(texts) - len(missing)} of {len(texts)} messages quoted")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
