#!/usr/bin/env python3
"""Checks the shipped monitoring files against what quorna-logger exports.

usage: check_monitoring.py METRICS_FILE RULES_FILE DASHBOARD_FILE

METRICS_FILE holds a /metrics answer of the logger. The alerting rules must pass
`promtool check rules`; the dashboard must parse as JSON; every quorna_* name in an expression
of either must be one of the exposition's metric families. Exits 1 with the faults on stderr.
"""
import json
import re
import subprocess
import sys


def exported_names(path):
    names = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("# TYPE "):
                names.add(line.split()[2])
    return names


def expressions(node):
    if isinstance(node, dict):
        for key, value in node.items():
            if key in ("expr", "query") and isinstance(value, str):
                yield value
            else:
                yield from expressions(value)
    elif isinstance(node, list):
        for item in node:
            yield from expressions(item)


def main():
    metrics, rules, dashboard = sys.argv[1:4]
    faults = []
    exported = exported_names(metrics)
    if not exported:
        faults.append(f"{metrics}: no metric family")
    check = subprocess.run(["promtool", "check", "rules", rules], capture_output=True, text=True)
    if check.returncode != 0:
        faults.append(f"promtool check rules {rules}:\n{check.stdout}{check.stderr}")
    with open(rules, encoding="utf-8") as f:
        rule_exprs = re.findall(r"^\s*expr:\s*(.+)$", f.read(), re.MULTILINE)
    try:
        with open(dashboard, encoding="utf-8") as f:
            board = json.load(f)
        dash_exprs = list(expressions(board))
    except (OSError, ValueError) as e:
        faults.append(f"{dashboard}: {e}")
        dash_exprs = []
    if not dash_exprs:
        faults.append(f"{dashboard}: no expression")
    for where, exprs in ((rules, rule_exprs), (dashboard, dash_exprs)):
        for expr in exprs:
            for name in re.findall(r"\bquorna_[a-z_]+", expr):
                if name not in exported:
                    faults.append(f"{where}: {name} is not exported by the logger ({expr})")
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
