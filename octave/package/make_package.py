"""Make the Octave package of Orvel, orvel-<version>.tar.gz, from the scripts and a built module.

    python3 make_package.py --version V --mex Orvel_mex.mex --mkoctfile mkoctfile \
        [--strip strip] --out orvel-V.tar.gz

The tarball holds one folder, orvel-V/, in Octave's package layout:
    DESCRIPTION, COPYING, INDEX   from DESCRIPTION.in and COPYING beside this file; the INDEX
                                  groups the commands as the overview of `help orvel` does
    PKG_ADD                       warns at `pkg load` when the module is not for this Octave
    inst/*.m                      the script layer (octave/) and the imaging toolkit
                                  (octave/imaging/) in one folder, so that `pkg load` needs
                                  to add no folder of its own
    inst/private/*.m              the private helpers of both; a name in both is refused
    inst/<arch>/Orvel_mex.mex     the module, without its debug information, in the folder
                                  named after the Octave it was built for (host and API), which
                                  `pkg install` puts on the path only for that same Octave
    inst/<arch>/Orvel_mex.m       its help text (Octave calls the .mex of a folder before
                                  the .m)
The examples (octave/examples/) are not shipped: pkg install puts every folder of a package on
the path for a moment to index its help, and their demo.m would then hide Octave's demo (with
a warning at every install).

The module is the one built here, so the package serves this platform only; DESCRIPTION says
which, and its Depends keeps other major versions of Octave from installing it.
"""
import argparse
import datetime
import glob
import gzip
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OCTAVE = os.path.dirname(HERE)  # the octave/ folder of the source tree


def fail(text):
    sys.exit("make_package.py: " + text)


def scripts(folder):
    """Name -> path of the .m files of a folder."""
    return {os.path.basename(p)[:-2]: p for p in glob.glob(os.path.join(folder, "*.m"))}


def merged(first, second, what):
    """The union of two name -> path tables; a name in both would lose one of the files."""
    clash = sorted(set(first) & set(second))
    if clash:
        fail("%s: %s in both octave/ and octave/imaging/" % (what, ", ".join(clash)))
    return {**first, **second}


def overview_groups(path, commands):
    """The groups of commands of the overview in orvel.m's help: (title, names) in order. A
    group is a heading after an empty comment line, directly followed by lines that each start
    with a command name (or continue the line before, further indented), up to the next empty
    comment line; a heading's remark in parentheses is dropped."""
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip() for line in f]
    groups, seen = [], set()
    for k in range(1, len(lines) - 1):
        heading = re.match(r"%   (\S.*)$", lines[k])
        if lines[k - 1] != "%" or not heading or not re.match(r"%     \w", lines[k + 1]):
            continue
        names = []
        for line in lines[k + 1:]:
            if re.match(r"%      +\S", line):
                continue
            entry = re.match(r"%     (\w+)\s", line)
            if not entry:
                break
            if entry.group(1) in commands and entry.group(1) not in seen:
                names.append(entry.group(1))
                seen.add(entry.group(1))
        groups.append((re.sub(r"\s*\(.*\)$", "", heading.group(1)), names))
    return groups


def index_text(title, commands, toolkit):
    groups = [("Overview", ["orvel"])] + overview_groups(commands["orvel"], commands)
    listed = {name for _, names in groups for name in names}
    missing = sorted(set(commands) - listed - {"Contents"})
    if missing:
        fail("not in the overview of help orvel, so in no INDEX category: " + ", ".join(missing))
    groups.append(("Imaging toolkit", sorted(toolkit)))
    text = "orvel >> %s\n" % title
    for heading, names in groups:
        text += heading + "\n" + "".join("  %s\n" % name for name in names)
    return text


def pkg_add_text(arch):
    """Run when a folder of the installed package joins the path: the module's folder for the
    Octave it was built for, else (another Octave, which left that folder aside) the package's
    own, where the module is then missing."""
    return (
        "% The module Orvel_mex of this package was built for " + arch + " only.\n"
        "if exist('Orvel_mex') ~= 3\n"
        "  warning('orvel:module', ['orvel: the module Orvel_mex of this package is built for '"
        " ...\n"
        "          '" + arch + ", not for this Octave (%s-%s): the commands that call it '"
        " ...\n"
        "          'fail. Build Orvel from its source for this Octave.'], ...\n"
        "          __octave_config_info__('canonical_host_type'), "
        "__octave_config_info__('api_version'));\n"
        "end\n")


def mkoctfile_value(mkoctfile, name):
    return subprocess.run([mkoctfile, "-p", name], check=True, capture_output=True,
                          text=True).stdout.strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--mex", required=True, help="the built module Orvel_mex.mex")
    parser.add_argument("--mkoctfile", required=True, help="mkoctfile of the Octave it is for")
    parser.add_argument("--strip", help="strip program; the module ships as built without it")
    parser.add_argument("--out", required=True, help="the tarball to write")
    args = parser.parse_args()

    octave_version = mkoctfile_value(args.mkoctfile, "OCTAVE_VERSION")
    arch = (mkoctfile_value(args.mkoctfile, "CANONICAL_HOST_TYPE") + "-"
            + mkoctfile_value(args.mkoctfile, "API_VERSION"))
    major = int(octave_version.split(".")[0])
    # SOURCE_DATE_EPOCH, when set, makes the Date and the files' times those of a release.
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", datetime.datetime.now().timestamp()))
    date = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).date().isoformat()

    with open(os.path.join(HERE, "DESCRIPTION.in"), encoding="utf-8") as f:
        description = f.read()
    values = {"VERSION": args.version, "DATE": date, "ARCH": arch,
              "OCTAVE_VERSION": octave_version, "OCTAVE_MIN": "%d.0.0" % major,
              "OCTAVE_NEXT": "%d.0.0" % (major + 1)}
    description = re.sub(r"@(\w+)@", lambda m: values[m.group(1)], description)
    title = re.search(r"^Title: (.*)$", description, re.M).group(1)

    commands = scripts(OCTAVE)
    toolkit = scripts(os.path.join(OCTAVE, "imaging"))
    inst = merged(commands, toolkit, "commands")
    private = merged(scripts(os.path.join(OCTAVE, "private")),
                     scripts(os.path.join(OCTAVE, "imaging", "private")), "private helpers")

    top = "orvel-%s/" % args.version
    texts = {"DESCRIPTION": description, "INDEX": index_text(title, commands, toolkit),
             "PKG_ADD": pkg_add_text(arch)}
    files = {"COPYING": os.path.join(HERE, "COPYING")}
    files.update({"inst/%s.m" % n: p for n, p in inst.items()})
    files.update({"inst/private/%s.m" % n: p for n, p in private.items()})
    files["inst/%s/Orvel_mex.m" % arch] = os.path.join(HERE, "Orvel_mex.m")

    with tempfile.TemporaryDirectory() as scratch:
        mex = os.path.join(scratch, "Orvel_mex.mex")
        shutil.copyfile(args.mex, mex)
        if args.strip:
            subprocess.run([args.strip, "--strip-debug", mex], check=True)
        files["inst/%s/Orvel_mex.mex" % arch] = mex

        def info(name, size, mode):
            entry = tarfile.TarInfo(top + name)
            entry.size, entry.mode, entry.mtime = size, mode, epoch
            return entry

        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        partial = args.out + ".part"
        with gzip.GzipFile(partial, "wb", mtime=epoch) as gz, \
                tarfile.open(fileobj=gz, mode="w", format=tarfile.USTAR_FORMAT) as tar:
            for name in sorted(set(texts) | set(files)):
                if name in texts:
                    data = texts[name].encode("utf-8")
                    tar.addfile(info(name, len(data), 0o644), io.BytesIO(data))
                else:
                    mode = 0o755 if name.endswith(".mex") else 0o644
                    with open(files[name], "rb") as f:
                        tar.addfile(info(name, os.path.getsize(files[name]), mode), f)
        os.replace(partial, args.out)  # never a half-written tarball under the real name
    print("wrote %s: %d files, the module for %s" % (args.out, len(texts) + len(files), arch))


if __name__ == "__main__":
    main()
