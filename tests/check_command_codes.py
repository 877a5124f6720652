"""The command codes written in three places agree: the gateway's tables (src/gateway/*.cpp,
entries {code, "name", handler}), the Octave scripts (octave/NAME.m calls Orvel_mex(code, ...))
and the Python package (python/orvel/_commands.py, function NAME passes code on).

Usage: check_command_codes.py SOURCE_DIR. Prints each mismatch and exits 1 if there is one.
Reads the sources only; no built module is needed.
"""
import ast
import pathlib
import re
import sys

# Scripts and Python functions that are not commands of the gateway.
NOT_COMMANDS = {
    "Contents": "the folder's help index",
    "orvel": "the overview of the commands (help text only)",
    "orvel_logo": "prints the logo without calling the module",
}


def gateway_commands(src, problems):
    """name -> code from every table of command_entry in the gateway's sources."""
    commands = {}
    for path in sorted((src / "src" / "gateway").glob("*.cpp")):
        text = path.read_text()
        constants = dict(re.findall(r"constexpr\s+\w+\s+(\w+)\s*=\s*(-?\d+)\s*;", text))
        for table in re.finditer(r"command_entry\s+(\w+)\s*\[\]\s*=\s*\{", text):
            depth, end = 1, table.end()  # to the brace that closes it (handlers may be lambdas)
            while depth:
                depth += {"{": 1, "}": -1}.get(text[end], 0)
                end += 1
            entries = re.findall(r"\{\s*(\w+)\s*,\s*\"(\w+)\"", text[table.end():end])
            if not entries:
                problems.append("%s: table %s has no entries" % (path.name, table.group(1)))
            for code, name in entries:
                code = constants.get(code, code)
                if not code.lstrip("-").isdigit():
                    problems.append("%s: %s has the code %s, not a number" % (path.name, name, code))
                elif name in commands or int(code) in commands.values():
                    problems.append("%s: %s (%s) repeats a name or a code" % (path.name, name, code))
                else:
                    commands[name] = int(code)
    return commands


def octave_codes(path):
    """The first arguments of the Orvel_mex calls of a script, comments left out."""
    text = re.sub(r"^\s*[%#]\{.*?^\s*[%#]\}", "", path.read_text(), flags=re.S | re.M)
    text = "\n".join(l for l in text.splitlines() if not l.lstrip().startswith(("%", "#")))
    return re.findall(r"\bOrvel_mex\s*\(\s*([^,)\s]*)", text)


def python_commands(path):
    """(__all__, function -> [(name or None, code)]): the calls of each function that pass a
    command code, as f("name" or c, code, ...) with c = "name" set in the function, or
    _orvel.call(code, ...). A code is 1000 times its module's number (1 and up) plus its own."""
    exports, calls = [], {}
    for node in ast.parse(path.read_text()).body:
        if isinstance(node, ast.Assign) and "__all__" in [getattr(t, "id", "") for t in node.targets]:
            exports = ast.literal_eval(node.value)
        if not isinstance(node, ast.FunctionDef):
            continue
        strings = {t.id: a.value.value for a in ast.walk(node) if isinstance(a, ast.Assign)
                   and isinstance(a.value, ast.Constant) and isinstance(a.value.value, str)
                   for t in a.targets if isinstance(t, ast.Name)}
        found = calls.setdefault(node.name, [])
        for call in (c for c in ast.walk(node) if isinstance(c, ast.Call)):
            a = call.args
            code = lambda k: a[k].value if (len(a) > k and isinstance(a[k], ast.Constant)
                                            and type(a[k].value) is int) else None
            if getattr(call.func, "attr", "") == "call" and code(0) is not None:
                found.append((node.name, code(0)))
            elif code(1) is not None and code(1) >= 1000:
                name = (a[0].value if isinstance(a[0], ast.Constant) else
                        strings.get(a[0].id) if isinstance(a[0], ast.Name) else None)
                found.append((name, code(1)))
    return exports, calls


def check(src):
    problems = []
    commands = gateway_commands(src, problems)
    names = {code: name for name, code in commands.items()}
    if not commands:
        problems.append("no command tables found in src/gateway")

    def expect(where, name, code):
        """code is the gateway's code of name (of some command when name is None)."""
        if not str(code).isdigit():
            problems.append("%s: Orvel_mex(%s, ...) has no literal code" % (where, code))
        elif int(code) not in names:
            problems.append("%s: code %s is no command of the gateway" % (where, code))
        elif name is not None and int(code) != commands.get(name):
            problems.append("%s: code %s is the gateway's %s, not %s (%s)" % (
                where, code, names[int(code)], name, commands.get(name, "no such command")))

    octave = src / "octave"
    for path in sorted(octave.glob("*.m")) + sorted((octave / "private").glob("*.m")):
        where, name, codes = str(path.relative_to(src)), path.stem, octave_codes(path)
        helper = path.parent.name == "private"  # helpers may call any command
        if not helper and name not in NOT_COMMANDS:
            if name not in commands:
                problems.append("%s: no command of the gateway is named %s" % (where, name))
            elif not codes:
                problems.append("%s: calls no Orvel_mex(code, ...)" % where)
        for code in codes if name not in NOT_COMMANDS else []:
            expect(where, None if helper else name, code)

    exports, calls = python_commands(src / "python" / "orvel" / "_commands.py")
    for function, found in calls.items():
        for name, code in found:
            expect("python %s()" % function, name, code)
    for name in exports:
        if name not in commands and name not in NOT_COMMANDS:
            problems.append("python %s(): exported but no command of the gateway" % name)

    for name, code in sorted(commands.items(), key=lambda c: c[1]):
        if not (octave / (name + ".m")).exists():
            problems.append("%s (%d): no script octave/%s.m" % (name, code, name))
        if name not in calls:
            problems.append("%s (%d): no Python function %s()" % (name, code, name))
        elif name not in exports:
            problems.append("%s (%d): python %s() is not in _commands.__all__" % (name, code, name))
        elif (name, code) not in calls[name]:
            problems.append("%s (%d): python %s() never passes its code" % (name, code, name))

    for p in problems:
        print(p)
    print("%d commands in the gateway's tables; %d mismatches" % (len(commands), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(check(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
