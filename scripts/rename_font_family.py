#!/usr/bin/env python3
"""Gives a font file a new family name (name IDs 1 and 16) so that every text engine finds it
by the same name. Usage: rename_font_family.py IN OUT FAMILY"""
import sys

from fontTools.ttLib import TTFont


def rename(source, target, family):
    font = TTFont(source, recalcTimestamp=False)  # the same bytes on every machine
    names = font["name"]
    subfamily = names.getDebugName(2) or "Regular"
    wanted = {
        1: family,
        16: family,
        4: f"{family} {subfamily}",
        6: f"{family}-{subfamily}".replace(" ", ""),
    }
    for name_id, text in wanted.items():
        names.removeNames(nameID=name_id)
        names.setName(text, name_id, 3, 1, 0x409)
        names.setName(text, name_id, 1, 0, 0)
    font.save(target)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    rename(sys.argv[1], sys.argv[2], sys.argv[3])
