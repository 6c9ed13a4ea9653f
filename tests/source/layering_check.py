#!/usr/bin/env python3
"""Checks every quoted include of the project's libraries against the table "Libraries and
who may use whom" of docs/ARCHITECTURE.md: a file may include the headers of its own library
and of the libraries its row lists under "May use", and nothing else of the tree.

The table is the one place the rule is written; this reads it as it stands:
  | `vornel_http` | `http/` | `vornel_text`, OpenSSL |
The second column names the folder (ending in "/") or the single header a library owns; a
file belongs to the library whose folder or header matches it most closely, so
`playback/engine/` owns the engine's files and `playback/` the rest of playback/. In the
third column every backticked `vornel_*` name is a library that may be included; other
words (third-party libraries, remarks) are for the reader.

  layering_check.py [--root DIR] [--note FILE]
Prints one line per breach and exits 1 when there is any, 0 when there is none.
"""
import argparse
import os
import re
import sys

SECTION = "## Libraries and who may use whom"
SOURCE_SUFFIXES = (".c", ".cpp", ".h")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
LIBRARY_NAME = re.compile(r"`(vornel_[a-z0-9_]+)`")


class TableError(Exception):
    pass


class Library:
    def __init__(self, name, owns, may_use):
        self.name = name
        self.owns = owns  # "folder/" or "folder/header.h", relative to the root
        self.may_use = may_use


def table_rows(note_text):
    """The cells of each body row of the table under SECTION."""
    lines = note_text.splitlines()
    try:
        start = lines.index(SECTION)
    except ValueError:
        raise TableError(f'no section "{SECTION}"')
    rows, in_table = [], False
    for line in lines[start + 1:]:
        if line.startswith("## "):
            break
        if line.startswith("|"):
            in_table = True
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            if not all(set(cell) <= set("-: ") for cell in cells):
                rows.append(cells)
        elif in_table:
            break
    if len(rows) < 2:
        raise TableError(f'no table under "{SECTION}"')
    return rows[1:]  # the first row is the heading


def read_table(note_text):
    libraries = []
    for cells in table_rows(note_text):
        if len(cells) < 3:
            raise TableError(f"row with fewer than three columns: | {' | '.join(cells)} |")
        name = re.fullmatch(r"`(vornel_[a-z0-9_]+)`", cells[0])
        owns = re.fullmatch(r"`([a-z0-9_/.]+)`", cells[1])
        if not name or not owns:
            raise TableError(f"row not of the form | `vornel_name` | `folder/` | ...: | {' | '.join(cells)} |")
        libraries.append(Library(name.group(1), owns.group(1), LIBRARY_NAME.findall(cells[2])))
    known = {library.name for library in libraries}
    for library in libraries:
        for used in library.may_use:
            if used not in known:
                raise TableError(f"{library.name} may use {used}, which has no row of its own")
    check_acyclic(libraries)
    return libraries


def check_acyclic(libraries):
    uses = {library.name: [used for used in library.may_use if used != library.name] for library in libraries}
    state = {}

    def visit(name, path):
        if state.get(name) == "done":
            return
        if state.get(name) == "open":
            raise TableError("the table goes round in a circle: " + " -> ".join(path + [name]))
        state[name] = "open"
        for used in uses[name]:
            visit(used, path + [name])
        state[name] = "done"

    for name in uses:
        visit(name, [])


def owner(path, libraries):
    """The library that owns a path relative to the root, or None."""
    best = None
    for library in libraries:
        matches = path.startswith(library.owns) if library.owns.endswith("/") else path == library.owns
        if matches and (best is None or len(library.owns) > len(best.owns)):
            best = library
    return best


def library_files(root, libraries):
    """(path relative to root, library) for every source file the table's libraries own."""
    seen = set()
    for library in libraries:
        if not library.owns.endswith("/"):
            candidates = [library.owns]
        elif not os.path.isdir(os.path.join(root, library.owns)):
            raise TableError(f"{library.name} owns {library.owns}, which does not exist")
        else:
            candidates = []
            for folder, _, names in os.walk(os.path.join(root, library.owns)):
                relative = os.path.relpath(folder, root)
                candidates += [os.path.join(relative, name) for name in sorted(names)]
        for path in candidates:
            path = path.replace(os.sep, "/")
            if path in seen or not path.endswith(SOURCE_SUFFIXES):
                continue
            if not os.path.isfile(os.path.join(root, path)):
                raise TableError(f"{library.name} owns {path}, which does not exist")
            seen.add(path)
            yield path, owner(path, libraries)


def breaches(root, libraries):
    for path, library in library_files(root, libraries):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                included = match.group(1)
                target = owner(included, libraries)
                if target is None:
                    yield f'{path}:{number}: includes "{included}", which no library of the table owns'
                elif target is not library and target.name not in library.may_use:
                    yield (f'{path}:{number}: includes "{included}" of {target.name}, '
                           f"which {library.name} may not use")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.normpath(os.path.join(here, "..", "..")))
    parser.add_argument("--note", help="the note holding the table (default: ROOT/docs/ARCHITECTURE.md)")
    args = parser.parse_args()
    note = args.note or os.path.join(args.root, "docs", "ARCHITECTURE.md")
    try:
        with open(note, encoding="utf-8") as text:
            libraries = read_table(text.read())
        found = list(breaches(args.root, libraries))
    except (OSError, TableError) as error:
        print(f"{note}: {error}", file=sys.stderr)
        return 1
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) break the table of {os.path.relpath(note, args.root)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
