#!/usr/bin/env python3
"""Checks that the include arrows between the folders of src/ run one way only.

Each folder has a level; a file may include headers of its own folder and of folders on a
lower level, never of a folder on its own level or above. The check also reports any cycle
of includes between files. Exit status 0 when the tree keeps the rule, 1 otherwise.

Usage: scripts/check_includes.py [SRC_DIR]   (default: src/ beside this script)
"""
import os
import re
import sys

# Lowest first. Folders on one level are independent of each other.
LEVELS = [
    ["base"],               # messages and log, exit codes, missing values, text helpers
    ["numeric", "solvers"], # random stream, sweep, box statistics; network flow, assignment
    ["io"],                 # data sets, schema, OUT= writer, utility files, temp files, sort
    ["render"],             # output object, listing, HTML, table CSV, SVG graphs
    ["host"],               # the session and the chief header of the host interface
    ["statements"],         # lexer, parser, grammar
    ["core"],               # the run context, phase declarations, shared record types
    ["options"],            # statement options into the run context
    ["model"],              # levels, design rows, the logistic fit
    ["input"],              # BY-group reading, record layout, model rows
    ["adjust"],             # weights, support region, score order, group files, strata
    ["match"],              # matching
    ["assess"],             # balance statistics and tables
    ["effect"],             # the treatment effect
    ["plots"],              # the graph families
    ["output"],             # the OUT= data set
    ["driver"],             # step set-up, the BY-group loop, the message catalogue
    ["cli"],                # the command line
]
LEVEL = {folder: i for i, group in enumerate(LEVELS) for folder in group}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    src = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                          os.path.join(os.path.dirname(__file__), "..", "src"))
    problems = []
    graph = {}
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in LEVEL:
            problems.append(f"src/{folder}/: a folder without a level in scripts/check_includes.py")
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")):
                continue
            rel = f"{folder}/{name}"
            with open(os.path.join(path, name), encoding="utf-8") as f:
                targets = INCLUDE.findall(f.read())
            graph[rel] = [t for t in targets if "/" in t]
            for target in graph[rel]:
                to = target.split("/")[0]
                if to not in LEVEL:
                    problems.append(f"src/{rel} includes {target}: no such folder level")
                elif to != folder and LEVEL[to] >= LEVEL[folder]:
                    way = "sideways" if LEVEL[to] == LEVEL[folder] else "upward"
                    problems.append(f"src/{rel} includes {target} ({way}: {folder} -> {to})")

    # Cycles between files, by depth-first search.
    state = {}
    def visit(node, stack):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                problems.append("include cycle: " + " -> ".join(stack[stack.index(nxt):] + [nxt]))
            elif nxt in graph and nxt not in state:
                visit(nxt, stack)
        stack.pop()
        state[node] = 2
    for node in graph:
        if node not in state:
            visit(node, [])

    for p in problems:
        print(p)
    print(f"{len(graph)} files, {sum(map(len, graph.values()))} includes: "
          + ("one way" if not problems else f"{len(problems)} problems"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
