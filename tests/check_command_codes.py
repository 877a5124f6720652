"""The command codes written in three places agree: the gateway's tables (src/gateway/*.cpp,
entries {code, "name", handler}), the Octave scripts (octave/NAME.m calls Orvel_mex(code, ...))
and the Python package (python/orvel/_commands.py, function NAME passes code on).

Usage: check_command_codes.py SOURCE_DIR. Prints each mismatch and exits 1 if there is one.
Needs no built module: it reads the sources.
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


def gateway_commands(src):
    """name -> code from every table of command_entry in the gateway's sources."""
    commands, problems = {}, []
    for path in sorted((src / "src" / "gateway").glob("*.cpp")):
        text = path.read_text()
        constants = dict(re.findall(r"constexpr\s+\w+\s+(\w+)\s*=\s*(-?\d+)\s*;", text))
        for table in re.finditer(r"command_entry\s+(\w+)\s*\[\]\s*=\s*\{", text):
            # The table's body: up to the brace that closes it (handlers may be lambdas).
            depth, end = 1, table.end()
            while depth:
                depth += {"{": 1, "}": -1}.get(text[end], 0)
                end += 1
            entries = re.findall(r"\{\s*(\w+)\s*,\s*\"(\w+)\"", text[table.end():end - 1])
            if not entries:
                problems.append("%s: table %s has no entries {code, \"name\", ...}"
                                % (path.name, table.group(1)))
            for code, name in entries:
                code = constants.get(code, code)
                if not code.lstrip("-").isdigit():
                    problems.append("%s: %s has the code %s, not a number"
                                    % (path.name, name, code))
                elif name in commands:
                    problems.append("%s: %s is in the tables twice" % (path.name, name))
                elif int(code) in commands.values():
                    problems.append("%s: %s has the code %s of another command"
                                    % (path.name, name, code))
                else:
                    commands[name] = int(code)
    return commands, problems


def octave_codes(path):
    """The first arguments of the Orvel_mex calls of a script, comments left out."""
    text = re.sub(r"^\s*[%#]\{.*?^\s*[%#]\}", "", path.read_text(), flags=re.S | re.M)
    lines = [line for line in text.splitlines() if not line.lstrip().startswith(("%", "#"))]
    return re.findall(r"\bOrvel_mex\s*\(\s*([^,)\s]*)", "\n".join(lines))


def python_calls(path):
    """function -> [(name or None, code)]: each call that passes a command code, as
    f("name" or c, code, ...) with c = "name" in the function, or _orvel.call(code, ...).
    A command's code is 1000 times its module's number (1 and up) plus its own."""
    calls = {}
    for f in ast.parse(path.read_text()).body:
        if not isinstance(f, ast.FunctionDef):
            continue
        strings = {t.id: a.value.value for a in ast.walk(f) if isinstance(a, ast.Assign)
                   and isinstance(a.value, ast.Constant) and isinstance(a.value.value, str)
                   for t in a.targets if isinstance(t, ast.Name)}
        found = calls.setdefault(f.name, [])
        for call in (c for c in ast.walk(f) if isinstance(c, ast.Call)):
            args = call.args
            if (isinstance(call.func, ast.Attribute) and call.func.attr == "call" and args
                    and isinstance(args[0], ast.Constant) and type(args[0].value) is int):
                found.append((f.name, args[0].value))
            elif (len(args) >= 2 and isinstance(args[1], ast.Constant)
                  and type(args[1].value) is int and args[1].value >= 1000):
                name = args[0]
                name = (name.value if isinstance(name, ast.Constant) else
                        strings.get(name.id) if isinstance(name, ast.Name) else None)
                found.append((name, args[1].value))
    return calls


def python_exports(path):
    for node in ast.parse(path.read_text()).body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__"
                                                for t in node.targets):
            return ast.literal_eval(node.value)
    return []


def check(src):
    commands, problems = gateway_commands(src)
    names = {code: name for name, code in commands.items()}
    if not commands:
        problems.append("no command tables found in src/gateway")

    def wrong_code(where, name, code):
        if code not in names:
            return "%s: code %s is no command of the gateway" % (where, code)
        if name is not None and code != commands.get(name):
            return "%s: code %s is the gateway's %s, not %s (%s)" % (
                where, code, names[code], name, commands.get(name, "no such command"))
        return None

    octave = src / "octave"
    for path in sorted(octave.glob("*.m")):
        name, codes = path.stem, octave_codes(path)
        if name in NOT_COMMANDS:
            continue
        if name not in commands:
            problems.append("octave/%s: no command of the gateway is named %s" % (path.name, name))
        elif not codes:
            problems.append("octave/%s: calls no Orvel_mex(code, ...)" % path.name)
        for code in codes:
            where = "octave/" + path.name
            problems.append(wrong_code(where, name, int(code)) if code.isdigit() else
                            "%s: Orvel_mex(%s, ...) has no literal code" % (where, code))
    for path in sorted((octave / "private").glob("*.m")):  # helpers may call any command
        for code in octave_codes(path):
            problems.append(wrong_code("octave/private/" + path.name, None, int(code))
                            if code.isdigit() else "octave/private/%s: Orvel_mex(%s, ...) "
                            "has no literal code" % (path.name, code))

    module = src / "python" / "orvel" / "_commands.py"
    calls, exports = python_calls(module), python_exports(module)
    for function, found in calls.items():
        for name, code in found:
            problems.append(wrong_code("python %s()" % function, name, code))
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
        elif (name, code) not in calls.get(name, []):
            problems.append("%s (%d): python %s() never passes its code" % (name, code, name))

    problems = [p for p in problems if p]
    for p in problems:
        print(p)
    print("%d commands in the gateway's tables; %d mismatches" % (len(commands), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(check(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")))
