#!/usr/bin/python3
"""Checks that every folder of a source tree (src/ or tools/) includes only
from the folders that its row of the tree's layers.txt allows, and that the
rows themselves have no cycle. A row may name a nested folder (lib/design);
a file and an include belong to the longest row their folder lies in.
Prints each offending include as file:line and exits 1 when there is one.

Usage: check-include-directions.py SOURCE_DIR
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]*)[>"]')
PUBLIC_FOLDER = "zm"  # zm/zm.h and zm/zmtool.h, the public headers
SOURCE_SUFFIXES = {".h", ".hpp", ".inc", ".c", ".cpp"}


def read_layers(path):
    """The table as {folder: set of folders it may include}, in file order."""
    allowed = {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        row = line.split("#", 1)[0].strip()
        if not row:
            continue
        folder, colon, uses = row.partition(":")
        if not colon:
            sys.exit(f"{path}:{number}: expected 'folder: folders it may include'")
        allowed[folder.strip()] = set(uses.split())
    return allowed


def table_problems(allowed, path):
    problems = []
    for folder, uses in allowed.items():
        for unknown in sorted(uses - allowed.keys()):
            problems.append(f"{path}: {folder} may include '{unknown}', which has no row")
    # Peel off folders whose every use is already placed; what remains is a cycle.
    placed = set()
    while True:
        ready = {f for f, uses in allowed.items() if f not in placed and uses & allowed.keys() <= placed}
        if not ready:
            break
        placed |= ready
    if len(placed) < len(allowed):
        cycle = ", ".join(sorted(allowed.keys() - placed))
        problems.append(f"{path}: the rows of {cycle} include each other in a cycle")
    return problems


def folder_of(parts, allowed):
    """The longest row that the folder `parts` lies in, else its first part."""
    for n in range(len(parts), 0, -1):
        row = "/".join(parts[:n])
        if row in allowed:
            return row
    return parts[0] if parts else ""


def include_problems(src, allowed, shown):
    problems = []
    checked = 0
    for file in sorted(src.rglob("*")):
        if file.suffix not in SOURCE_SUFFIXES or not file.is_file():
            continue
        checked += 1
        folder = folder_of(file.relative_to(src).parts[:-1], allowed)
        if folder not in allowed:
            problems.append(f"{shown(file)}: folder '{folder}' has no row in layers.txt")
            continue
        lines = file.read_text(errors="replace").splitlines()
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, target = match.groups()
            head = folder_of(target.split("/")[:-1], allowed)
            if head in (PUBLIC_FOLDER, folder) or head in allowed[folder]:
                continue
            where = f"{shown(file)}:{number}"
            if head in allowed:
                may = ", ".join(sorted(allowed[folder])) or "nothing"
                problems.append(f"{where}: {folder}/ may not include {target} "
                                f"({folder}/ may include: {may})")
            elif quote == '"':
                problems.append(f"{where}: include \"{target}\" by its folder in {src.name}/, "
                                f"as \"folder/name.h\"")
    return problems, checked


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    src = pathlib.Path(sys.argv[1]).resolve()
    table = src / "layers.txt"
    allowed = read_layers(table)

    def shown(file):
        return file.relative_to(src.parent)

    problems = table_problems(allowed, shown(table))
    found, checked = include_problems(src, allowed, shown)
    problems += found
    for problem in problems:
        print(problem)
    if problems:
        print(f"include directions: {len(problems)} problem(s) in {checked} files")
        return 1
    print(f"include directions: {checked} files, every include goes down a layer or stays")
    return 0


if __name__ == "__main__":
    sys.exit(main())
