#!/usr/bin/env python3
"""Counts the test cases in a folder of JUnit-style XML reports (GoogleTest's, pytest's, node's).

Prints one line "<label>: N passed, N failed, N skipped" and exits 0; the counts go to the closing
summary of the test script.
"""
import pathlib
import sys
import xml.etree.ElementTree as ET


def count(folder):
    passed = failed = skipped = 0
    for report in sorted(pathlib.Path(folder).glob("*.xml")):
        try:
            root = ET.parse(report).getroot()
        except ET.ParseError:
            failed += 1  # a binary that died mid-report
            continue
        for case in root.iter("testcase"):
            if case.find("failure") is not None or case.find("error") is not None:
                failed += 1
            elif case.find("skipped") is not None or case.get("result") == "skipped" or case.get("status") == "notrun":
                skipped += 1
            else:
                passed += 1
    return passed, failed, skipped


if __name__ == "__main__":
    label, folder = sys.argv[1], sys.argv[2]
    p, f, s = count(folder)
    print(f"{label}: {p} passed, {f} failed, {s} skipped")
