"""Make the help texts of the Python package from those of the Octave scripts.

    python3 make_help.py <octave_dir> <out_file>

reads the comment block that follows the function line of every <octave_dir>/*.m and writes
<out_file>, a module holding HELP, a dict from command name to its help text, worded for
Python: usage lines without Octave's brackets, lower-case command names, "See also: ...", and
a note on how matrices are given in Python. The help is thus written once, in the scripts.
"""
import glob
import os
import re
import sys

NOTE = "In Python, matrices are numpy arrays: points of shape (n, 3), vectors 1-D"


def comment_block(path):
    """The lines of the comment block after the function line, without their '%'; None
    for a script without a function line."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()
    k = 0
    while k < len(lines) and not lines[k].startswith("function"):
        k += 1
    if k == len(lines):
        return None
    while lines[k].rstrip().endswith("..."):  # the function line continues
        k += 1
    block = []
    for line in lines[k + 1:]:
        if not line.lstrip().startswith("%"):
            break
        block.append(line.lstrip()[1:].rstrip())
    return block


def pythonic(text, names):
    """Octave wording of a help text turned into Python's."""
    upper = {n.upper(): n for n in names}
    text = re.sub(r"\b[A-Z][A-Z0-9_]*\b", lambda m: upper.get(m.group(0), m.group(0)), text)
    text = re.sub(r"See also ([^.]*)\.", r"See also: \1.", text)
    text = re.sub(r"\[([A-Za-z_][\w, ]*)\] = ", r"\1 = ", text)  # several results: a tuple
    text = text.replace("typing orvel prints this overview", "help(orvel) shows this overview")
    text = re.sub(r"\bhelp orvel\b", "help(orvel)", text)
    text = re.sub(r"\bhelp ([A-Za-z_]+)\b", r"help(orvel.\1)", text)
    text = text.replace("numel(", "len(")
    text = text.replace("returns [].", "returns an empty 0 x 0 array.")
    return text


def call_syntax(line, name):
    """A command written without parentheses (Octave's 'orvel_end') as a call."""
    m = re.match(r"(\s*)%s(?![\w(])( *)" % re.escape(name), line)
    if not m:
        return line
    spaces = m.group(2)
    pad = spaces[2:] if len(spaces) >= 3 else spaces
    return m.group(1) + name + "()" + pad + line[m.end():]


def help_text(name, block, names):
    """The help text of one command: its summary line, then the rest dedented."""
    title = re.sub(r"^\s*%s\s+" % re.escape(name.upper()), "", block[0])
    body = block[1:]
    indent = min((len(l) - len(l.lstrip()) for l in body if l.strip()), default=0)
    body = [l[indent:] for l in body]
    # The first paragraph holds the usage: commands written as calls, and after it the note.
    end = body.index("") if "" in body else len(body)
    body[:end] = [call_syntax(l, name) for l in body[:end]]
    text = "\n".join(body)
    while end < len(body) and body[end - 1].endswith(":"):  # a list follows: note after it
        end = body.index("", end + 1) if "" in body[end + 1:] else len(body)
    if re.search(r"matri|\brows?\b|\bcolumns?\b|\[x y z\]|vector", text):
        note = NOTE
        if "start_time" in "\n".join(body[:end]):
            note += ", start_time a float"
        body[end:end] = ["", note + "."]
    text = pythonic(title + "\n\n" + "\n".join(body), names)
    return text.strip("\n") + "\n"


def main(octave_dir, out_file):
    paths = sorted(glob.glob(os.path.join(octave_dir, "*.m")))
    names = [os.path.splitext(os.path.basename(p))[0] for p in paths]
    helps = {}
    for name, path in zip(names, paths):
        block = comment_block(path)
        if block:
            helps[name] = help_text(name, block, names)
    out = ['"""Help texts of the Orvel commands, made by make_help.py from the Octave scripts."""',
           "", "HELP = {}"]
    for name, text in helps.items():
        out.append("")
        out.append("HELP[%r] = (" % name)
        out.extend("    %r" % line for line in text.splitlines(keepends=True))
        out.append(")")
    with open(out_file, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: make_help.py <octave_dir> <out_file>")
    main(sys.argv[1], sys.argv[2])
