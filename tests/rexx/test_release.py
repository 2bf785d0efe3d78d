"""Release hygiene: the version set in CMakeLists.txt is the one the manual, CHANGELOG.md and
the Debian changelog state, and `cmake --install` puts the files where the README says, with a
library that Regina loads from there."""

import datetime
import gzip
import os
import re
import subprocess

import conftest
from conftest import BUILD_DIR, SOURCE_DIR

VERSION = conftest.cache_value("CMAKE_PROJECT_VERSION")


def test_version_is_semantic():
    assert re.fullmatch(r"(0|[1-9]\d*)\.(0|[1-9]\d*)\.(0|[1-9]\d*)", VERSION)


def test_manual_states_the_version():
    manual = (SOURCE_DIR / "docs" / "manual.md").read_text(encoding="utf-8")
    assert re.findall(r"This manual describes Quillmark (\S+)\.", manual) == [VERSION]


def release_date():
    """The date of the newest release in CHANGELOG.md, whose heading must name the version. Only
    a list of changes not released yet ("Unreleased") may come before it."""
    changelog = (SOURCE_DIR / "CHANGELOG.md").read_text(encoding="utf-8")
    headings = re.findall(r"^## (.*)$", changelog, re.M)
    newest = headings[1] if headings[0] == "Unreleased" else headings[0]
    match = re.fullmatch(rf"{re.escape(VERSION)} \((\d{{4}}-\d\d-\d\d)\)", newest)
    assert match, newest
    return datetime.date.fromisoformat(match.group(1))


def test_debian_changelog_follows_changelog_md():
    lines = gzip.decompress((BUILD_DIR / "changelog.gz").read_bytes()).decode().splitlines()
    assert lines[0] == f"quillmark ({VERSION}) unstable; urgency=medium"
    signed = re.fullmatch(r" -- (.+ <[^ >]+@[^ >]+>)  (.+)", lines[-1])
    assert signed, lines[-1]
    when = datetime.datetime.strptime(signed.group(2), "%a, %d %b %Y %H:%M:%S %z")
    assert when.date() == release_date()


def test_install_layout_and_loading(tmp_path):
    stage = tmp_path / "stage"
    env = dict(os.environ, DESTDIR=str(stage))
    subprocess.run(["cmake", "--install", str(BUILD_DIR), "--prefix", "/usr"], env=env,
                   check=True, capture_output=True)
    addon = conftest.cache_value("QUILLMARK_ADDON_DIR")
    docs = "usr/share/doc/quillmark"
    examples = {f"{docs}/examples/{p.relative_to(SOURCE_DIR / 'examples')}"
                for p in (SOURCE_DIR / "examples").rglob("*") if p.is_file()}
    installed = {str(p.relative_to(stage)) for p in stage.rglob("*") if p.is_file()}
    assert installed == {addon.lstrip("/") + "/libquillmark.so"} | examples | {
        f"{docs}/{name}" for name in
        ["README.md", "CHANGELOG.md", "manual.md", "copyright", "changelog.gz"]}

    # The installed example over the installed samples, with the installed library.
    run_env = dict(os.environ, REGINA_ADDON_DIR=str(stage) + addon)
    proc = subprocess.run(conftest.regina_command(stage / docs / "examples" / "xmlcheck.rexx",
                                                  "samples/catalog.xml", "samples/broken.xml"),
                          cwd=stage / docs / "examples", env=run_env, capture_output=True,
                          timeout=300)
    assert (proc.returncode, proc.stdout.decode().splitlines(), proc.stderr) == (
        1, ["samples/catalog.xml: well-formed", "samples/broken.xml:5:2: mismatched tag"], b"")
