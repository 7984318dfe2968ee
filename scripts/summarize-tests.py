#!/usr/bin/env python3
"""Counts the test cases of one `make test` run and prints the closing line.

Each build directory holds ctest-junit.xml (one entry per CTest test). Where a
CTest test ran a whole GoogleTest executable (the Windows tests under Wine), its
GoogleTest report test-results/<name>.xml gives the individual cases instead.
Exits non-zero when anything failed or a preset did not build.
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ET


def case_failed(case):
    return case.find("failure") is not None or case.find("error") is not None


def case_skipped(case):
    if case.find("skipped") is not None:
        return True
    return case.get("status") in ("notrun", "disabled") or case.get("result") in ("skipped", "suppressed")


def count_gtest_report(path):
    passed = failed = skipped = 0
    for case in ET.parse(path).getroot().iter("testcase"):
        if case_skipped(case):
            skipped += 1
        elif case_failed(case):
            failed += 1
        else:
            passed += 1
    return passed, failed, skipped


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-failures", default="")
    parser.add_argument("build_dirs", nargs="*")
    args = parser.parse_args()

    passed = failed = skipped = 0
    for build_dir in args.build_dirs:
        junit = os.path.join(build_dir, "ctest-junit.xml")
        if not os.path.exists(junit):
            print(f"{build_dir}: no CTest report", file=sys.stderr)
            failed += 1
            continue
        for case in ET.parse(junit).getroot().iter("testcase"):
            name = case.get("name", "")
            report = os.path.join(build_dir, "test-results", name + ".xml")
            ctest_failed = case_failed(case) or case.get("status") == "fail"
            if os.path.exists(report):
                try:
                    p, f, s = count_gtest_report(report)
                except ET.ParseError:
                    p, f, s = 0, 1, 0
                if ctest_failed and f == 0:
                    f = 1  # crashed or timed out after its last report
                passed, failed, skipped = passed + p, failed + f, skipped + s
            elif case_skipped(case) or case.get("status") == "notrun":
                skipped += 1
            elif ctest_failed:
                failed += 1
            else:
                passed += 1

    broken = args.build_failures.split()
    if broken:
        print("presets that did not build: " + " ".join(broken))
        failed += len(broken)
    line = f"summary: {passed} passed, {failed} failed"
    if skipped:
        line += f", {skipped} skipped"
    print(line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
