#!/usr/bin/python3
# Goods price lists as other programs write them, for the sheet import tests:
#   goods_sheets.py make DIR      writes DIR/goods.xlsx (openpyxl),
#                                 DIR/goods.ods (odfpy), DIR/store.xlsx
#                                 (openpyxl: only the sheet "Склад") and
#                                 DIR/clean.xlsx, DIR/clean.ods (the price
#                                 list without its bad cells)
#   goods_sheets.py readback FILE prints a workbook as openpyxl reads it
# Both sheets "Лист1" hold the same price list: a title line and an empty row
# above the header, columns in the exporter's order (one unknown), barcodes as
# numbers and as text, a code stored as 12.0, a formula's stored result, a
# price of three decimals, a fractional code, a duplicate code and a total
# line; empty "Весовой" cells. A second sheet "Склад" has headers only
# --column can map. The clean files hold the same sheets with the rows that
# can be written only (the first four).
import sys
import zipfile

TITLE = "Прайс-лист на 01.12.2026"
HEADER = ["Наименование", "Штрих-код", "Остаток", "Цена продажи", "Код товара", "Отдел", "Весовой"]
# Rows from row 4; None is an empty cell, ("=", formula, cached) a formula.
ROWS = [
    ["Молоко 3,2%", 4607001234562, 10, 89.9, 12.0, 1, 1],
    ["Сыр Российский", "2100008000008", 5, 589.5, 13, 2, 2],
    ["Хлеб", 4601234567893, 0, ("=", "D4*2", 179.8), 14, 1, None],
    ["Кефир", None, None, 45.678, 15, None, None],
    ["Вода", 4607001234579, 3, 30, 15.5, 1, 1],
    None,
    ["Итого", None, 18, ("=", "SUM(D4:D8)", 835.078), None, None, None],
    ["Молоко повтор", None, None, 91, "12", None, None],
]
STORE_HEADER = ["Артикул", "Товар", "Цена, руб."]
STORE_ROWS = [[501, "Гвозди", 12.5], [502, "Шурупы", 7]]


GOOD_ROWS = 4


def make_xlsx(path, rows=ROWS, error_cell=True):
    from openpyxl import Workbook
    book = Workbook()
    sheet = book.active
    sheet.title = "Лист1"
    sheet["A1"] = TITLE
    sheet.append([])
    sheet.append(HEADER)
    cached = {}
    for r, row in enumerate(rows, start=4):
        if row is None:
            continue
        for c, v in enumerate(row, start=1):
            if v is None:
                continue
            if isinstance(v, tuple):
                sheet.cell(row=r, column=c, value=v[0] + v[1])
                cached[sheet.cell(row=r, column=c).coordinate] = v[2]
            else:
                sheet.cell(row=r, column=c, value=v)
    # An error value the spreadsheet shows in place of a price.
    if error_cell:
        sheet["A12"] = "Ошибка"
        sheet["D12"] = "#DIV/0!"
        sheet["E12"] = 16
    store = book.create_sheet("Склад")
    store.append(STORE_HEADER)
    for row in STORE_ROWS:
        store.append(row)
    book.save(path)
    # openpyxl keeps no results of formulas; a spreadsheet program stores
    # them beside the formula, as here.
    with zipfile.ZipFile(path) as z:
        parts = {n: z.read(n) for n in z.namelist()}
    xml = parts["xl/worksheets/sheet1.xml"].decode("utf-8")
    for ref, value in cached.items():
        start = xml.index('<c r="%s"' % ref)
        end = xml.index("</c>", start)
        cell = xml[start:end]
        cell = cell.replace("<v></v>", "").replace("<v />", "") + "<v>%s</v>" % value
        xml = xml[:start] + cell + xml[end:]
    parts["xl/worksheets/sheet1.xml"] = xml.encode("utf-8")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in parts.items():
            z.writestr(n, data)


def make_store(path):
    from openpyxl import Workbook
    book = Workbook()
    sheet = book.active
    sheet.title = "Склад"
    sheet.append(STORE_HEADER)
    for row in STORE_ROWS:
        sheet.append(row)
    book.save(path)


def make_ods(path, rows=ROWS):
    from odf.opendocument import OpenDocumentSpreadsheet
    from odf.table import Table, TableRow, TableCell, TableColumn
    from odf.text import P

    doc = OpenDocumentSpreadsheet()

    def text_cell(value, repeat=None):
        cell = TableCell(valuetype="string")
        if repeat:
            cell.setAttribute("numbercolumnsrepeated", str(repeat))
        cell.addElement(P(text=value))
        return cell

    def number_cell(value, formula=None):
        cell = TableCell(valuetype="float", value=str(value))
        if formula:
            cell.setAttribute("formula", "of:=" + formula)
        cell.addElement(P(text=str(value).replace(".", ",")))
        return cell

    def empty(repeat=1):
        cell = TableCell()
        if repeat > 1:
            cell.setAttribute("numbercolumnsrepeated", str(repeat))
        return cell

    def add_row(table, values, repeat=None):
        row = TableRow()
        if repeat:
            row.setAttribute("numberrowsrepeated", str(repeat))
        for v in values:
            if v is None:
                row.addElement(empty())
            elif isinstance(v, tuple):
                ref = v[1].replace("D4", "[.D4]").replace("D8", "[.D8]")
                row.addElement(number_cell(v[2], ref))
            elif isinstance(v, str):
                row.addElement(text_cell(v))
            else:
                row.addElement(number_cell(v))
        # The rest of the row, as spreadsheet programs write it.
        row.addElement(empty(1000))
        table.addElement(row)

    table = Table(name="Лист1")
    table.addElement(TableColumn(numbercolumnsrepeated="8"))
    add_row(table, [TITLE])
    add_row(table, [])
    add_row(table, HEADER)
    for row in rows:
        add_row(table, row if row is not None else [])
    add_row(table, [], repeat=1048000)
    doc.spreadsheet.addElement(table)
    store = Table(name="Склад")
    add_row(store, STORE_HEADER)
    for row in STORE_ROWS:
        add_row(store, row)
    doc.spreadsheet.addElement(store)
    doc.save(path)


def readback(path):
    from openpyxl import load_workbook
    book = load_workbook(path)
    sheet = book.active
    print("SHEET", sheet.title)
    print("FREEZE", sheet.freeze_panes)
    print("FILTER", sheet.auto_filter.ref)
    print("WIDTHS", " ".join("%s:%d" % (c, int(sheet.column_dimensions[c].width)) for c in "ABCDEFGHIJ"))
    for row in sheet.iter_rows():
        print("ROW " + "|".join("%s:%s" % (c.data_type, "" if c.value is None else c.value) for c in row))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make_xlsx(sys.argv[2] + "/goods.xlsx")
        make_ods(sys.argv[2] + "/goods.ods")
        make_store(sys.argv[2] + "/store.xlsx")
        make_xlsx(sys.argv[2] + "/clean.xlsx", ROWS[:GOOD_ROWS], False)
        make_ods(sys.argv[2] + "/clean.ods", ROWS[:GOOD_ROWS])
    elif sys.argv[1] == "readback":
        readback(sys.argv[2])
