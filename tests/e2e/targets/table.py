#!/usr/bin/python3
"""Prints the applications x features table from the lines the application scenarios wrote
(application, row, scenario, outcome); a cell that saw several outcomes over several runs shows them all."""
import sys

APPS = ["foot", "gtk4", "gtk3", "chromium", "firefox"]
cells, rows = {}, {}
for line in open(sys.argv[1], encoding="utf-8"):
    app, row, scenario, outcome = line.rstrip("\n").split("\t")
    rows[scenario] = int(row)
    cells.setdefault((app, scenario), set()).add(outcome)
scenarios = sorted(rows, key=rows.get)
apps = [a for a in APPS if any(app == a for app, _ in cells)]
print("| Scenario | " + " | ".join(apps) + " |")
print("|---" * (len(apps) + 1) + "|")
for s in scenarios:
    row = [" / ".join(sorted(cells.get((a, s), {"not run"}))) for a in apps]
    print("| " + s + " | " + " | ".join(row) + " |")
