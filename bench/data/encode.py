#!/usr/bin/env python3
"""Writes the MessagePack or YAML encoding of one JSON corpus.

    encode.py msgpack|yaml IN.json OUT

The output depends only on the input and the Debian packages' versions, so
every build produces the same bytes. MessagePack: integers in their smallest
form, every other number as float64, members in document order. YAML: block
style, members in document order, texts that would read as another kind
quoted, null as "~".
"""
import json
import os
import sys

import msgpack
import yaml


class BlockDumper(getattr(yaml, "CSafeDumper", yaml.SafeDumper)):
    pass


def represent_none(dumper, _):
    return dumper.represent_scalar("tag:yaml.org,2002:null", "~")


BlockDumper.add_representer(type(None), represent_none)


def main():
    kind, source, target = sys.argv[1:4]
    with open(source, encoding="utf-8") as f:
        value = json.load(f)
    if kind == "msgpack":
        data = msgpack.packb(value, use_bin_type=True, use_single_float=False)
    elif kind == "yaml":
        data = yaml.dump(value, Dumper=BlockDumper, default_flow_style=False,
                         allow_unicode=True, sort_keys=False, width=1 << 30).encode("utf-8")
    else:
        sys.exit(f"encode.py: unknown encoding '{kind}'")
    # Write beside the target and rename, so an interrupted build leaves no
    # half-written corpus behind.
    partial = target + ".partial"
    with open(partial, "wb") as f:
        f.write(data)
    os.replace(partial, target)


if __name__ == "__main__":
    main()
