# Reads a workbook back with openpyxl and prints what the export tests compare, as JSON.
"""Usage: read_xlsx.py FILE

Prints {"sheets": [names], "widths": [stored width of columns A..E or null],
"rows": [[[value, data_type, number_format], ...], ...]} for the first worksheet,
every row up to the last one used and columns A..E, and "stats": [[value, ...], ...], the used
cells of the second worksheet (none without one), and "analysis" likewise for a third worksheet
(only when there is one).
"""
import json
import sys

import openpyxl


def column_width(sheet, index):
    # One <col> element may cover several columns (min..max); openpyxl keys it by its first.
    for dim in sheet.column_dimensions.values():
        if dim.min is not None and dim.max is not None and dim.min <= index <= dim.max:
            return dim.width if dim.customWidth else None
    return None


def main():
    book = openpyxl.load_workbook(sys.argv[1])
    sheet = book.worksheets[0]
    rows = []
    for row in sheet.iter_rows(min_row=1, max_row=sheet.max_row, min_col=1, max_col=5):
        rows.append([[cell.value, cell.data_type, cell.number_format] for cell in row])
    found = {
        "sheets": book.sheetnames,
        "widths": [column_width(sheet, i) for i in range(1, 6)],
        "rows": rows,
        "stats": [list(r) for r in book.worksheets[1].iter_rows(values_only=True)]
        if len(book.worksheets) > 1 else [],
    }
    if len(book.worksheets) > 2:
        found["analysis"] = [list(r) for r in book.worksheets[2].iter_rows(values_only=True)]
    json.dump(found, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
