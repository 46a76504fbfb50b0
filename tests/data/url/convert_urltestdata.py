#!/usr/bin/env python3
"""Makes wpt_http_cases.tsv from the web-platform-tests file url/resources/urltestdata.json.

Usage: convert_urltestdata.py urltestdata.json "<where it came from>" > wpt_http_cases.tsv

Kept: the cases whose input has the scheme http or https, or whose base does. Columns: input,
base (empty for none), expected href or "failure", and a reason where the case is knowingly
skipped (SKIPS below). Backslash, tab, CR, LF, other C0 controls, DEL and lone surrogates are
written as \\\\, \\t, \\r, \\n and \\u{hex}.
"""
import json
import re
import sys

# (input, base) -> why the parser here cannot give the browsers' answer.
SKIPS = {
}

SCHEME = re.compile(r'^[\x00-\x20]*([A-Za-z][A-Za-z0-9+.\-]*):')


def scheme(text):
    m = SCHEME.match(text or '')
    return m.group(1).lower() if m else None


def escape(text):
    out = []
    for ch in text:
        o = ord(ch)
        if ch == '\\':
            out.append('\\\\')
        elif ch == '\t':
            out.append('\\t')
        elif ch == '\n':
            out.append('\\n')
        elif ch == '\r':
            out.append('\\r')
        elif o < 0x20 or o == 0x7F or 0xD800 <= o <= 0xDFFF:
            out.append('\\u{%x}' % o)
        else:
            out.append(ch)
    return ''.join(out)


def main():
    source, origin = sys.argv[1], sys.argv[2]
    cases = [c for c in json.load(open(source, encoding='utf-8')) if isinstance(c, dict)]
    rows = []
    for c in cases:
        if scheme(c['input']) not in ('http', 'https') and scheme(c.get('base')) not in ('http', 'https'):
            continue
        assert c.get('base') != ''
        expected = 'failure' if c.get('failure') else c['href']
        reason = SKIPS.get((c['input'], c.get('base')), '')
        rows.append('\t'.join([escape(c['input']), escape(c.get('base') or ''), escape(expected), reason]))
    out = sys.stdout
    out.reconfigure(encoding='utf-8', errors='surrogatepass', newline='\n')
    out.write('# %d http(s) cases of web-platform-tests url/resources/urltestdata.json, %s.\n' % (len(rows), origin))
    out.write('# (c) web-platform-tests contributors, 3-Clause BSD License. Made by convert_urltestdata.py.\n')
    out.write('# input\tbase\texpected href or failure\treason for skipping\n')
    for row in rows:
        out.write(row + '\n')


main()
