#!/usr/bin/python3
"""Structural rules the present workbook engine still breaks in its outputs: reported, not counted."""

# Each entry names a rule of check_structure.py and what the engine does against it. An entry goes
# once the engine keeps the rule; the harnesses then fail on it like on any other rule.
ENGINE = {
    "sst.fill": "new strings start a fresh CONTINUE record instead of filling the last SST/CONTINUE record",
    "xf.cell": "new cells take XF 15 or a column's XF even where that is a style XF",
    "order.before": "the cell table of an empty sheet goes right after DIMENSIONS, before the page setup",
    "row.missing": "in a sheet whose cells have no ROW records, only the rows written to get one",
    "row.span": "a new ROW record for a row with older cells spans only the new cells",
    "sst.extsst": "the EXTSST bucket size is ceil(n/128), one short of n/128 + 1 at multiples of 128",
}

# POI reads a worksheet's cell table only where the grammar puts it; an output with the known
# order.before defect is refused with this message.
POI_REFUSAL_OF = {"order.before": "Unexpected record type"}


def split(problems):
    """(counted, known) of the output's structural problems."""
    known = [p for p in problems if p[0] in ENGINE]
    return [p for p in problems if p[0] not in ENGINE], known
