#!/usr/bin/env python3
"""Checks that the manual's troubleshooting section quotes every message the program can show.

    check_manual_messages.py SRC_DIR MANUAL.md

Collects the texts from the sources: string literals passed to messageBox, the constants whose
names end in Text, Texts or Message, the SQLSTATE table of connection failures and the formats
of the messages built with snprintf. A "%d" or "%s" in a text stands for anything in the manual
(it writes *N*, *PORT*, *TEXT*). Line breaks count as blanks, runs of blanks as one. Prints each
text the manual lacks and exits 1 if there is one.

quorna-logger's own lines (src/logger) are built by concatenation: the messages it writes
(op.write, op.repeated and its operator's line), its option errors (*error = ...) and what the
functions naming a problem, a reason or a summary return. Each string literal of such an
expression must appear in the manual in its order, anything standing for the parts computed at run
time ("the settings file " + file + " names no port" needs "the settings file *FILE* names no port").
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


LOGGER_CALL = re.compile(r"\b(?:op\.write|op\.repeated|line)\(\s*MessageLevel::\w+\s*,")
LOGGER_ERROR = re.compile(r"\*error\s*=")
LOGGER_FUNCTION = re.compile(r"^std::string (\w*(?:Problem|Reason|Summary|ErrorText))\(.*?^}", re.S | re.M)
LOGGER_RESULT = re.compile(r"(?:\breturn\b|\bproblem\s*=)")


def expression_at(code, start):
    """The C++ expression from start to the comma, semicolon or closing parenthesis that ends it."""
    depth, i = 0, start
    while i < len(code):
        c = code[i]
        if c == '"':
            i += 1
            while code[i] != '"':
                i += 2 if code[i] == "\\" else 1
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            if depth == 0:
                break
            depth -= 1
        elif c in ",;" and depth == 0:
            break
        i += 1
    return code[start:i]


def concatenation_pattern(expression):
    """A pattern for the text an expression of literals and computed parts joined by + makes, or None
    if it holds no literal. Parts in parentheses (a choice between two words) are computed parts."""
    parts, depth, current, i = [], 0, "", 0
    while i < len(expression):
        c = expression[i]
        if c == '"':
            j = i + 1
            while expression[j] != '"':
                j += 2 if expression[j] == "\\" else 1
            current += expression[i:j + 1]
            i = j + 1
            continue
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        if c == "+" and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += c
        i += 1
    parts.append(current.strip())
    pattern, literal_seen = "", False
    for part in parts:
        if re.fullmatch(r'(?:"(?:[^"\\]|\\.)*"\s*)+', part):
            pattern += re.escape(blanks(decode(part))) if not pattern.endswith(".+?") else re.escape(decode(part).strip())
            literal_seen = True
        elif not pattern.endswith(".+?"):
            pattern += ".+?"
    return pattern if literal_seen else None


def logger_patterns(src):
    """(pattern, source text) for each line quorna-logger writes of its own."""
    found = {}
    for path in sorted((src / "logger").glob("*.cpp")):
        code = path.read_text(encoding="utf-8")
        starts = [m.end() for m in LOGGER_CALL.finditer(code)] + [m.end() for m in LOGGER_ERROR.finditer(code)]
        for function in LOGGER_FUNCTION.finditer(code):
            starts += [function.start() + m.end() for m in LOGGER_RESULT.finditer(function.group(0))]
        for start in starts:
            expression = expression_at(code, start)
            pattern = concatenation_pattern(expression)
            if pattern is not None:
                found[pattern] = blanks(expression)
    return found


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
    gui = (src / "gui" / "main" / "main_window.cpp").read_text(encoding="utf-8")
    texts.update(decode(m.group(1)) for m in PATTERNS[0].finditer(gui))

    document = manual.read_text(encoding="utf-8")
    section = blanks(document[document.index("## Troubleshooting"):])
    missing = []
    texts = {t for t in texts if len(re.findall(r"\b[A-Za-z]{2,}\b", t)) >= 2 and t not in NOT_MESSAGES}
    for text in sorted(texts):
        pattern = re.escape(blanks(text)).replace("%d", ".+?").replace("%s", ".+?")
        if not re.search(pattern, section):
            missing.append(text)
    logger = logger_patterns(src)
    logger_missing = [expression for pattern, expression in sorted(logger.items())
                      if not re.search(pattern.replace("\\ ", " "), section)]
    for text in missing:
        print(f"the troubleshooting table does not quote: {text}")
    for expression in logger_missing:
        print(f"the troubleshooting table does not quote quorna-logger's: {expression}")
    print(f"{len(texts) - len(missing)} of {len(texts)} messages quoted, "
          f"{len(logger) - len(logger_missing)} of {len(logger)} of quorna-logger's")
    return 1 if missing or logger_missing else 0


if __name__ == "__main__":
    sys.exit(main())
