#!/usr/bin/python3
"""Reads back the journal's tables as zarvikctl exports them, with readers of
their own: the workbook with openpyxl, the CSV files with the csv module.

Usage: journal_readback.py ZARVIKCTL RECORDS

RECORDS is the shop journal of tests/data/journal/shop_records.txt; its row
counts and totals are worked out by hand in tests/test_journal_data.cpp:
five receipts (295.00, 104.90, a return of 30.00, an annulled receipt of
45.00 without a total, 500.00) and eleven operations.
"""
import csv
import decimal
import os
import subprocess
import sys
import tempfile

import openpyxl

RECEIPTS = 5
OPERATIONS = 11
TOTALS = decimal.Decimal("929.90")      # the receipts' "Итог"
OPERATION_SUMS = decimal.Decimal("974.90")  # the operations' "Сумма"
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: {got!r}, expected {expected!r}")


def number(value):
    if value is None or value == "":
        return decimal.Decimal(0)
    if isinstance(value, (int, float)):
        return decimal.Decimal(str(value)).quantize(decimal.Decimal("0.01"))
    return decimal.Decimal(value.replace(",", "."))


def column_sum(header, rows, name):
    index = header.index(name)
    return sum((number(r[index]) for r in rows), decimal.Decimal(0))


def check_table(what, header, rows, count, column, total):
    check(f"{what}: rows", len(rows), count)
    check(f"{what}: sum of {column}", column_sum(list(header), rows, column), total)


def main():
    ctl, records = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as folder:
        def run(*args):
            done = subprocess.run([ctl, "journal", "read", "--in", records, "--data", *args], cwd=folder,
                                  capture_output=True, timeout=120)
            check(f"zarvikctl {' '.join(args)}: exit status (stderr {done.stderr!r})", done.returncode, 0)

        run("--receipts", "r1251.csv", "--lines", "l1251.csv", "--xlsx", "journal.xlsx")
        run("--receipts", "rutf8.csv", "--lines", "lutf8.csv", "--utf8")

        book = openpyxl.load_workbook(os.path.join(folder, "journal.xlsx"), read_only=True)
        check("sheets", book.sheetnames, ["Чеки", "Операции"])
        for sheet, count, column, total in (("Чеки", RECEIPTS, "Итог", TOTALS),
                                            ("Операции", OPERATIONS, "Сумма", OPERATION_SUMS)):
            rows = list(book[sheet].iter_rows(values_only=True))
            check_table(f"workbook sheet {sheet}", rows[0], rows[1:], count, column, total)
            numbers = [r[list(rows[0]).index(column)] for r in rows[1:]]
            check(f"workbook sheet {sheet}: {column} are numbers",
                  all(v is None or isinstance(v, (int, float)) for v in numbers), True)

        for name, encoding in (("r1251.csv", "cp1251"), ("rutf8.csv", "utf-8-sig"),
                               ("l1251.csv", "cp1251"), ("lutf8.csv", "utf-8-sig")):
            with open(os.path.join(folder, name), encoding=encoding, newline="") as f:
                rows = list(csv.reader(f, delimiter=";"))
            if name.startswith("r"):
                check_table(name, rows[0], rows[1:], RECEIPTS, "Итог", TOTALS)
            else:
                check_table(name, rows[0], rows[1:], OPERATIONS, "Сумма", OPERATION_SUMS)
        with open(os.path.join(folder, "rutf8.csv"), "rb") as f:
            check("UTF-8 file starts with a byte order mark", f.read(3), b"\xef\xbb\xbf")

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
