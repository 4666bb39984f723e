#!/usr/bin/env python3
"""Corrects the type offsets of some [out] parameters in a widl -Oif proxy.

widl (7.0 and 8.0 alike) writes the type offset of an [out] parameter
that is a reference pointer to a pointer, such as

    [out] LPWSTR *ppsz
    [out, string] LPWSTR *ppsz
    [out, size_is(, n), string] LPWSTR **ppsz

past the parameter's own FC_RP [allocated_on_stack] [pointer_deref]
descriptor, straight to the pointee. The interpreter then treats the
parameter as the pointee itself: across processes the client gets NULL
strings or garbage arrays (in process nothing is marshalled, so nothing
shows). The offset of such a parameter must name the FC_RP descriptor,
which is what this script makes it do.

The rule checked for every parameter: an [out] parameter that is neither
a base type nor a "simple ref" (flags 0x40 and 0x100 clear) must have a
type offset that names an FC_RP descriptor. One that names the pointee of
an FC_RP [allocated_on_stack] [pointer_deref] descriptor is moved there;
anything else is an error.

The script fails (exit status 1) when it finds nothing to correct, when
--expect is given and the number of corrections differs, or when a
parameter breaks the rule in a way it cannot correct: a widl whose output
changed must be looked at, not silently accepted.

Usage: fix_widl_out_pointers.py [--expect N] [--output FILE] PROXY_P_C
"""
import argparse
import re
import sys

FC_RP = 0x11
FC_UP = 0x12
FC_OP = 0x13
FC_FP = 0x14
SIMPLE_POINTER = 0x08
ALLOCATED_ON_STACK_POINTER_DEREF = 0x14
FLAG_OUT = 0x10
FLAG_RETURN = 0x20
FLAG_BASE_TYPE = 0x40
FLAG_SIMPLE_REF = 0x100

LABEL = re.compile(r"^/\* (\d+)(?: \((.*)\))? \*/$")
BYTES = re.compile(r"^\s*(0x[0-9a-fA-F]+)(?:,\s*(0x[0-9a-fA-F]+))?,")
SHORT = re.compile(r"^\s*NdrFcShort\((0x[0-9a-fA-F]+)\)")
FLAGS = re.compile(r"^\s*NdrFcShort\((0x[0-9a-fA-F]+)\),\s*/\* flags: (.*) \*/$")
TYPE_OFFSET = re.compile(r"^(\s*)NdrFcShort\((0x[0-9a-fA-F]+)\),(\s*)/\* type offset = (\d+)[^*]*\*/$")


def fail(message):
    print(f"fix_widl_out_pointers: {message}", file=sys.stderr)
    sys.exit(1)


def section(lines, name):
    """Index range of the lines of the format string array called name."""
    start = next((i for i, line in enumerate(lines) if re.search(rf"\b{name}\s*=", line)), None)
    if start is None:
        fail(f"no {name} in the input: not a widl -Oif proxy")
    end = next((i for i in range(start, len(lines)) if lines[i].startswith("};")), None)
    if end is None:
        fail(f"{name} does not end")
    return start, end


def type_descriptors(lines, start, end):
    """Offset -> (first byte, second byte, pointee offset or None) of the type format string.

    Only pointer descriptors (FC_RP, FC_UP, FC_OP, FC_FP) that are not
    [simple_pointer] have a pointee offset: theirs is the short after the
    two bytes, relative to the short's own position."""
    descriptors = {}
    for i in range(start, end):
        label = LABEL.match(lines[i].strip())
        if not label or i + 1 >= end:
            continue
        first = BYTES.match(lines[i + 1])
        if not first:
            continue
        offset = int(label.group(1))
        kind = int(first.group(1), 16)
        second = int(first.group(2), 16) if first.group(2) else None
        target = None
        if FC_RP <= kind <= FC_FP and second is not None and not second & SIMPLE_POINTER:
            relative = SHORT.match(lines[i + 2]) if i + 2 < end else None
            if not relative:
                fail(f"pointer descriptor at type offset {offset} has no offset to its pointee")
            distance = int(relative.group(1), 16)
            if distance >= 0x8000:
                distance -= 0x10000
            target = offset + 2 + distance
        descriptors[offset] = (kind, second, target)
    return descriptors


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("proxy", help="the *_p.c file widl wrote")
    parser.add_argument("--expect", type=int, help="the number of parameters that must be corrected")
    parser.add_argument("--output", help="where to write the result (default: in place)")
    args = parser.parse_args()

    with open(args.proxy, encoding="utf-8") as stream:
        lines = stream.read().split("\n")

    types = type_descriptors(lines, *section(lines, "__MIDL_TypeFormatString"))
    # Pointee offset -> the FC_RP [allocated_on_stack] [pointer_deref] naming
    # it, directly or through one more pointer (LPWSTR ** names the FC_OP of
    # the array, and widl gives the parameter the array itself).
    deref_pointers = {}
    for offset, (kind, flags, target) in types.items():
        if kind == FC_RP and flags == ALLOCATED_ON_STACK_POINTER_DEREF and target is not None:
            deref_pointers.setdefault(target, offset)
            inner = types.get(target)
            if inner and inner[0] in (FC_UP, FC_OP) and inner[2] is not None:
                deref_pointers.setdefault(inner[2], offset)

    proc_start, proc_end = section(lines, "__MIDL_ProcFormatString")
    procedure = "?"
    corrected = []
    for i in range(proc_start, proc_end):
        label = LABEL.match(lines[i].strip())
        if label and label.group(2) and label.group(2).startswith("procedure "):
            procedure = label.group(2)[len("procedure "):]
            continue
        if not (label and label.group(2) and label.group(2).startswith("parameter ")):
            continue
        parameter = f"{procedure} {label.group(2)[len('parameter '):]}"
        flags_line = FLAGS.match(lines[i + 1])
        if not flags_line:
            fail(f"{parameter}: no flags where expected (line {i + 2})")
        flags = int(flags_line.group(1), 16)
        if not flags & FLAG_OUT or flags & (FLAG_RETURN | FLAG_BASE_TYPE | FLAG_SIMPLE_REF):
            continue
        offset_line = TYPE_OFFSET.match(lines[i + 3])
        if not offset_line:
            fail(f"{parameter}: no type offset where expected (line {i + 4})")
        offset = int(offset_line.group(4))
        if offset not in types:
            fail(f"{parameter}: type offset {offset} names no descriptor")
        if types[offset][0] == FC_RP:
            continue
        if offset not in deref_pointers:
            fail(f"{parameter}: type offset {offset} names neither an FC_RP descriptor "
                 f"nor the pointee of one (descriptor 0x{types[offset][0]:02x})")
        fixed = deref_pointers[offset]
        indent, _, space, _ = offset_line.groups()
        lines[i + 3] = (f"{indent}NdrFcShort(0x{fixed:x}),{space}/* type offset = {fixed} "
                        f"(was {offset}: the pointee, not the parameter's FC_RP) */")
        corrected.append(f"{parameter}: {offset} -> {fixed}")

    for line in corrected:
        print(f"  {line}")
    if not corrected:
        fail(f"{args.proxy}: no [out] parameter needed correcting; if widl no longer has the "
             "fault, remove this step; otherwise its output changed and this script must follow")
    if args.expect is not None and len(corrected) != args.expect:
        fail(f"{args.proxy}: corrected {len(corrected)} parameters, expected {args.expect}")

    with open(args.output or args.proxy, "w", encoding="utf-8") as stream:
        stream.write("\n".join(lines))
    print(f"{args.output or args.proxy}: {len(corrected)} [out] parameter type offsets "
          "moved to their FC_RP descriptor")


if __name__ == "__main__":
    main()
