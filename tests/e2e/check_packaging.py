#!/usr/bin/env python3
"""Checks the install tree and the Debian package built from a finished build directory.

usage: check_packaging.py --build-dir DIR --work-dir DIR --version-text VERSION [--with-tool 0|1]
"""

import argparse
import glob
import gzip
import os
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

APPSTREAM_ID = "org.example.ormix"
DATA_FILES = [
    "share/applications/ormix.desktop",
    f"share/metainfo/{APPSTREAM_ID}.metainfo.xml",
    "share/icons/hicolor/48x48/apps/ormix.png",
    "share/icons/hicolor/scalable/apps/ormix.svg",
]
DOC_FILES = ["share/doc/ormix/copyright", "share/doc/ormix/changelog.gz"]
MAN_PAGES = ["share/man/man1/ormix.1.gz"]
TOOL_MAN_PAGES = ["share/man/man1/ormix-read-dashboard.1.gz"]
RUNTIME_PACKAGES = ["libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6network6",
                    "qt6-qpa-plugins", "qt6-translations-l10n", "libgumbo1", "libseccomp2",
                    "fonts-nanum"]
# Where ormix and ormix-read-dashboard look for it: ../libexec/ormix from their folder.
READER = "libexec/ormix/ormix-reader"

failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message, file=sys.stderr)


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=240, **kwargs)


def no_display_env():
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    return env


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def man_pages(with_tool):
    return MAN_PAGES + (TOOL_MAN_PAGES if with_tool else [])


def check_man_page(path, version):
    """The page renders with man, without troff warnings, names its program and its version."""
    name = os.path.basename(path)[:-len(".1.gz")]
    done = run(["man", "--warnings", "-E", "UTF-8", "-l", path],
               env=dict(os.environ, MANWIDTH="80"))
    if done.returncode != 0 or done.stderr.strip():
        fail(f"man -l {name}.1: {done.returncode} {done.stderr}")
    elif not done.stdout.startswith(name.upper() + "(1)") or f"{name} -" not in done.stdout:
        fail(f"man -l {name}.1 does not show the {name} page: {done.stdout[:200]}")
    elif f"Ormix {version}" not in done.stdout.splitlines()[-1]:
        fail(f"man -l {name}.1 ends {done.stdout.splitlines()[-1]!r}, not with Ormix {version}")


def check_install_tree(build_dir, root, with_tool, version):
    done = run(["cmake", "--install", build_dir, "--prefix", root])
    if done.returncode != 0:
        fail(f"cmake --install failed: {done.stderr}")
        return
    binaries = ["bin/ormix", READER] + (["bin/ormix-read-dashboard"] if with_tool else [])
    for rel in binaries + DATA_FILES + DOC_FILES + man_pages(with_tool):
        if not os.path.isfile(os.path.join(root, rel)):
            fail(f"{rel} is not installed")
    for rel in man_pages(with_tool):
        if os.path.isfile(os.path.join(root, rel)):
            check_man_page(os.path.join(root, rel), version)
    for rel in binaries:
        if os.path.isfile(os.path.join(root, rel)) and not os.access(os.path.join(root, rel),
                                                                     os.X_OK):
            fail(f"{rel} is not executable")

    icon = os.path.join(root, DATA_FILES[2])
    if os.path.isfile(icon) and png_size(icon) != (48, 48):
        fail(f"the 48x48 icon is {png_size(icon)}")
    svg = os.path.join(root, DATA_FILES[3])
    if os.path.isfile(svg):
        tag = ElementTree.parse(svg).getroot().tag
        if tag != "{http://www.w3.org/2000/svg}svg":
            fail(f"the scalable icon is a {tag}, not an SVG")

    # Pages are parsed by the reader alone: the program that holds the password has no parser.
    for rel, parser in (("bin/ormix", False), (READER, True)):
        path = os.path.join(root, rel)
        if os.path.isfile(path):
            linked = run(["ldd", path]).stdout
            if ("libgumbo" in linked) != parser:
                fail(f"{rel} {'does not link' if parser else 'links'} gumbo: {linked}")

    program = os.path.join(root, "bin/ormix")
    if os.path.isfile(program):
        done = run([program, "--version"], env=no_display_env())
        if done.returncode != 0 or done.stdout != f"Ormix {version}\n":
            fail(f"the installed ormix --version: {done.returncode} {done.stdout}{done.stderr}")


def check_package_contents(deb, tree, version):
    """What the package holds validates as the desktop, AppStream and Debian tools want it."""
    done = run(["dpkg-deb", "-x", deb, tree])
    if done.returncode != 0:
        fail(f"dpkg-deb -x: {done.stderr}")
        return
    usr = os.path.join(tree, "usr")
    desktop = os.path.join(usr, DATA_FILES[0])
    if os.path.isfile(desktop):
        done = run(["desktop-file-validate", desktop])
        if done.returncode != 0 or done.stdout.strip():
            fail(f"desktop-file-validate: {done.stdout}{done.stderr}")
        with open(desktop, encoding="utf-8") as f:
            entry = f.read()
        if "\nExec=ormix\n" not in entry or "\nIcon=ormix\n" not in entry:
            fail("the desktop entry does not start ormix with its icon")

    metainfo = os.path.join(usr, DATA_FILES[1])
    if os.path.isfile(metainfo):
        done = run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo])
        if done.returncode != 0:
            fail(f"appstreamcli validate: {done.stdout}{done.stderr}")
        component = ElementTree.parse(metainfo).getroot()
        launchable = component.find("launchable")
        if launchable is None or launchable.text != os.path.basename(desktop):
            fail("the metadata does not name the installed desktop entry")
        releases = [r.get("version") for r in component.iter("release")]
        if releases[:1] != [version]:
            fail(f"the metadata's latest release is {releases[:1]}, not {version}")

    changelog = os.path.join(usr, DOC_FILES[1])
    if os.path.isfile(changelog):
        with gzip.open(changelog, "rt", encoding="utf-8") as f:
            first = f.readline()
        if not first.startswith(f"ormix ({version}) "):
            fail(f"the changelog starts {first!r}, not with version {version}")

    # Errors fail; warnings and the rest are shown, to be looked at.
    done = run(["lintian", "--fail-on", "error", "--display-info", deb])
    tags = [line for line in done.stdout.splitlines() if line[:2] in ("E:", "W:", "I:")]
    print("lintian:", *(tags or ["no tags"]), sep="\n  ")
    if done.returncode != 0:
        fail(f"lintian: {done.returncode} {done.stdout}{done.stderr}")


def check_package(build_dir, out_dir, with_tool, version):
    config = os.path.join(build_dir, "CPackConfig.cmake")
    done = run(["cpack", "-G", "DEB", "--config", config, "-B", out_dir])
    if done.returncode != 0:
        fail(f"cpack failed: {done.stdout}{done.stderr}")
        return
    debs = glob.glob(os.path.join(out_dir, "*.deb"))
    if [os.path.basename(d) for d in debs] != [f"ormix_{version}_amd64.deb"]:
        fail(f"cpack made {debs}, expected ormix_{version}_amd64.deb")
        if not debs:
            return
    deb = debs[0]
    listing = run(["dpkg-deb", "-c", deb]).stdout
    names = {line.split()[-1].lstrip(".") for line in listing.splitlines() if line.strip()}
    wanted = ["/usr/bin/ormix", "/usr/" + READER]
    wanted += ["/usr/bin/ormix-read-dashboard"] if with_tool else []
    wanted += ["/usr/" + rel for rel in DATA_FILES + DOC_FILES + man_pages(with_tool)]
    for path in wanted:
        if path not in names:
            fail(f"{path} is missing from the package")
    for path in names:
        if not path.startswith("/usr/") and path not in ("/", "/usr"):
            fail(f"the package installs {path} outside /usr")
    fields = {}
    for name in ("Package", "Version", "Architecture", "Depends"):
        fields[name] = run(["dpkg-deb", "-f", deb, name]).stdout.strip()
    if (fields["Package"], fields["Version"], fields["Architecture"]) != ("ormix", version,
                                                                        "amd64"):
        fail(f"package fields: {fields}")
    depends = {part.strip().split()[0] for part in fields["Depends"].split(",") if part.strip()}
    for package in RUNTIME_PACKAGES:
        if package not in depends:
            fail(f"Depends lacks {package}: {fields['Depends']}")
    check_package_contents(deb, os.path.join(out_dir, "tree"), version)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--with-tool", default="0")
    parser.add_argument("--version-text", required=True)
    args = parser.parse_args()
    with_tool = args.with_tool == "1"

    shutil.rmtree(args.work_dir, ignore_errors=True)
    os.makedirs(args.work_dir)
    version = args.version_text
    check_install_tree(args.build_dir, os.path.join(args.work_dir, "root"), with_tool, version)
    check_package(args.build_dir, os.path.join(args.work_dir, "deb"), with_tool, version)
    if failures:
        print(f"{len(failures)} packaging check(s) failed; files in {args.work_dir}",
              file=sys.stderr)
        return 1
    shutil.rmtree(args.work_dir, ignore_errors=True)
    print("packaging checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
