#!/usr/bin/python3
"""Fails when a text that Tessaly can show the user is missing from the user guide's list of
messages (the section "## メッセージ一覧" of docs/guide-ja.md), and prints what to add.

Usage: check_guide_messages.py [REPOSITORY]      (default: the folder above this script)

The texts are not kept in one catalogue, so they are found in the sources: every Japanese string
literal in app/, sending/, address/, settings/, log/, smtp/ and common/ is a message text (message and
question boxes, thrown errors, status texts, the field names inside messages, the words Tessaly
adds to a mail), unless the statement it stands in builds a control (a caption, a hint, a window
title, a file dialog's title or filter). A text is split where the program fills something in
(%1, %2, ... and the places where it is joined with a value) and at its line breaks; every piece
that holds Japanese must appear in the section as it is written in the source.

What counts as building a control is decided per statement (UI_MARKERS); a text that a window
shows in a label of its own (setText) therefore counts as a caption, not a message. A statement
that both builds a control and passes a text to a message box or an error counts as a message.
"""

import pathlib
import re
import sys
import unicodedata

FOLDERS = ("app", "sending", "address", "settings", "log", "smtp", "common")
SECTION = "## メッセージ一覧"

# Statements that build a control: their texts are captions, hints and titles, not messages.
UI_MARKERS = re.compile(
    r"setToolTip|setText\b|setWindowTitle|setPlaceholderText|setSpecialValueText|setAccessibleName|setStatusTip|"
    r"addTab|setTabText|addItems?\b|addRow|addButton|setTitle|setHeaderLabel|\bnew\s+Q\w+|"
    # the guide's command, and the headings of the guide's sections the windows open at
    r"\bcommandName\b|\baddGuideKey\b|\bshowGuide\b|"
    r"\bmake(Label|Button|Edit|Check|Radio|Group)\b|\baddToolButton\b|"
    r"\btitle\s*=|[Ff]ilter|\bFileDialog|bodyFileDialog|"
    # an object name in the statement ("Cmd_Hozon", "Label1", "Edt_Host"): a control is made
    r'"(?:[A-Z][A-Za-z]*_[A-Za-z0-9_]+|Label\d+|BitBtn\d+|TabSheet\d+)"'
)
# Calls and values that carry a text to the user even when a marker above stands beside them.
MESSAGE_MARKERS = re.compile(
    r"\.message\s*\(|->message\s*\(|\.error\s*\(|->error\s*\(|askYesNo|\bthrow\b|Error\s*\(|"
    r"\bshow\s*\(\s*book|setStatus|reportClientFailure"
)
# Japanese texts that are neither messages nor captions.
NOT_MESSAGES = {
    "ＭＳ Ｐゴシック": "a font name",
    "ＭＳ ゴシック": "a font name",
    "宛名名": "the start text of an entry field of the address book window",
    "（なし）": "the choice of no column in the merge table window",
}

LITERAL = re.compile(r'(?:u8|u|U|L)?"((?:[^"\\\n]|\\.)*)"')
JAPANESE = re.compile(r"[\u3040-\u30ff\u3400-\u9fff\uf900-\ufaff\uff10-\uff5a\uff66-\uff9f]")
PLACEHOLDER = re.compile(r"%\d+")


def strip_comments(code):
    """Blanks out comments, keeping string literals, line numbers and offsets."""
    out = []
    i, n = 0, len(code)
    while i < n:
        c = code[i]
        if code.startswith("//", i):
            j = code.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif code.startswith("/*", i):
            j = code.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("".join(ch if ch == "\n" else " " for ch in code[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and code[j] != c and code[j] != "\n":
                j += 2 if code[j] == "\\" else 1
            out.append(code[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def unescape(body):
    simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0"}
    return re.sub(r"\\(.)", lambda m: simple.get(m.group(1), m.group(1)), body)


def statements(code):
    """Yields (offset, text) of each statement: the pieces between ';' and the braces that stand
    outside parentheses (blocks, and the rows of a table), outside literals. Braces inside a
    call's parentheses (a brace-initialised argument) belong to the call."""
    start, depth = 0, 0
    for m in re.finditer(r'(?:u8|u|U|L)?"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|[;{}()]', code):
        token = m.group(0)
        if token == "(":
            depth += 1
        elif token == ")":
            depth = max(0, depth - 1)
        elif token == ";" or (token in "{}" and depth == 0):
            yield start, code[start:m.start()]
            start = m.end()
            if token == ";":
                depth = 0
    yield start, code[start:]


def messages_of(path, root):
    code = strip_comments(path.read_text(encoding="utf-8"))
    for offset, statement in statements(code):
        literals = list(LITERAL.finditer(statement))
        if not any(JAPANESE.search(m.group(1)) for m in literals):
            continue
        if UI_MARKERS.search(statement) and not MESSAGE_MARKERS.search(statement):
            continue
        # Adjacent literals are one text; what stands between two texts decides how they meet.
        texts = []  # [text, joined-to-previous-by]
        previous_end = None
        for m in literals:
            text = unescape(m.group(1))
            between = statement[previous_end:m.start()] if previous_end is not None else None
            previous_end = m.end()
            if between is not None:
                glue = re.sub(r"QStringLiteral\s*\(|QString::fromUtf8\s*\(|std::string\s*\(|[()\s]", "",
                              between)
                if glue == "" and texts:
                    texts[-1][0] += text
                    continue
                texts.append([text, "+" if glue == "+" else ("…+" if "+" in glue else ",")])
            else:
                texts.append([text, ","])
        line = code.count("\n", 0, offset + literals[0].start()) + 1
        yield path.relative_to(root).as_posix(), line, texts


def pieces(text):
    for part in PLACEHOLDER.split(text.replace("\r\n", "\n")):
        for piece in part.split("\n"):
            piece = " ".join(piece.split())
            if JAPANESE.search(piece) and piece not in NOT_MESSAGES:
                yield piece


def shown(texts):
    """The message as a guide row would show it: filled-in places as ……, line breaks as <br>."""
    rows, current = [], ""
    for text, glue in texts:
        text = PLACEHOLDER.sub("……", text).replace("\r\n", "<br>").replace("\n", "<br>")
        if glue == ",":
            if current:
                rows.append(current)
            current = text
        else:
            current += ("……" if glue == "…+" else "") + text
    if current:
        rows.append(current)
    return rows


def normalise(text):
    text = unicodedata.normalize("NFC", text)
    text = re.sub(r"<br\s*/?>", "\n", text).replace("`", "").replace("\\|", "|")
    return " ".join(text.split())


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    guide_path = root / "docs" / "guide-ja.md"
    guide = guide_path.read_text(encoding="utf-8")
    at = guide.find("\n" + SECTION + "\n")
    if at < 0:
        print(f"{guide_path}: no section '{SECTION}'", file=sys.stderr)
        return 1
    end = guide.find("\n## ", at + len(SECTION) + 2)
    section = normalise(guide[at:end if end >= 0 else len(guide)])

    found, missing = 0, []
    for folder in FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h"):
                continue
            for where, line, texts in messages_of(path, root):
                absent = [p for text, _ in texts for p in pieces(text) if p not in section]
                found += 1
                if absent:
                    missing.append((where, line, texts, absent))

    # An extractor that finds nothing would pass every guide: the program has far more texts.
    if found < 50:
        print(f"only {found} message statements found in the sources; the extraction is broken",
              file=sys.stderr)
        return 1
    if not missing:
        print(f"all texts of {found} message statements are in {guide_path.name}, section '{SECTION}'")
        return 0
    print(f"{len(missing)} statements show texts that are missing from {guide_path.name}, "
          f"section '{SECTION}'.\nAdd a row for each to the table where it belongs "
          "(…… marks what the program fills in, <br> a line break), or, for a text that is "
          "no message, see NOT_MESSAGES and UI_MARKERS in this script.\n", file=sys.stderr)
    for where, line, texts, absent in missing:
        print(f"{where}:{line}", file=sys.stderr)
        for piece in dict.fromkeys(absent):
            print(f"    missing: {piece}", file=sys.stderr)
        for row in shown(texts):
            print(f"    add:     | `{row}` | （どんなときか） | （どうすればよいか） |", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
