#!/usr/bin/env python3
"""Prints the properties of every card in a vCard file as JSON, read by python3-vobject.

Each card is a list of [name, types, components]; components is a list of texts (one for a
plain property, the parts of N, ADR and ORG).
"""
import json
import sys

import vobject

ADR_ORDER = ["box", "extended", "street", "city", "region", "code", "country"]
N_ORDER = ["family", "given", "additional", "prefix", "suffix"]


def text(value):
    return ",".join(value) if isinstance(value, list) else value


def main():
    with open(sys.argv[1], encoding="utf-8", newline="") as f:
        data = f.read()
    cards = []
    for card in vobject.readComponents(data):
        props = []
        for line in card.lines():
            types = [t.upper() for t in line.params.get("TYPE", [])]
            value = line.value
            if line.name == "ADR":
                parts = [text(getattr(value, k)) for k in ADR_ORDER]
            elif line.name == "N":
                parts = [text(getattr(value, k)) for k in N_ORDER]
            elif line.name == "ORG":
                parts = [text(v) for v in value]
            else:
                parts = [text(value)]
            props.append([line.name, types, parts])
        cards.append(props)
    json.dump(cards, sys.stdout)


if __name__ == "__main__":
    main()
