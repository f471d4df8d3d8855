#!/usr/bin/env python3
"""The setup program's exit statuses as its own table holds them (install/ExitStatus.cpp, with the numbers
of install/InstallResult.h): [(status, return response, meaning)] in the table's order.

usage: exit_statuses.py [--markdown]   prints the rows, or the README's table rows without their messages
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
LITERAL = r'"(?:[^"\\]|\\.)*"'
ROW = re.compile(r"\{\s*(k\w+),\s*\"(\w+)\",\s*((?:" + LITERAL + r"\s*)+)\}")


def _unquote(literals):
    return "".join(re.sub(r"\\(.)", r"\1", m[1:-1]) for m in re.findall(LITERAL, literals))


def read(root=ROOT):
    with open(os.path.join(root, "install", "InstallResult.h"), encoding="utf-8") as f:
        numbers = {name: int(value) for name, value in re.findall(r"\b(k\w+)\s*=\s*(\d+)", f.read())}
    with open(os.path.join(root, "install", "ExitStatus.cpp"), encoding="utf-8") as f:
        source = f.read()
    table = source[source.index("kExitStatuses[] = {"):]
    table = table[:table.index("\n};")]
    rows = [(numbers[name], response, _unquote(meaning)) for name, response, meaning in ROW.findall(table)]
    # A row the pattern missed would vanish from the manifest without a word.
    if len(rows) != table.count("{k"):
        raise ValueError("install/ExitStatus.cpp: a row is not of the form {kName, \"response\", \"meaning\"}")
    return rows


if __name__ == "__main__":
    for status, response, meaning in read():
        print("| %d | %s |" % (status, meaning) if sys.argv[1:] == ["--markdown"] else
              "%d\t%s\t%s" % (status, response, meaning))
