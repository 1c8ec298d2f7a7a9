#!/usr/bin/python3
"""Structural rules the present workbook engine still breaks in its outputs: reported, not counted."""

# Each entry names a rule of check_structure.py and what the engine does against it. An entry goes
# once the engine keeps the rule; the harnesses then fail on it like on any other rule.
ENGINE = {}

# Rule -> the message with which POI refuses an output that breaks it (POI reads a worksheet's
# cell table only where the grammar puts it, for one).
POI_REFUSAL_OF = {}


def split(problems):
    """(counted, known) of the output's structural problems."""
    known = [p for p in problems if p[0] in ENGINE]
    return [p for p in problems if p[0] not in ENGINE], known
