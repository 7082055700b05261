#!/usr/bin/env python3
"""Writes the README's C++ examples as one program that checks the values
their comments state.

usage: readme_cpp.py README.md OUT.cpp

The ```cpp blocks run in order in one function (their #include lines at file
scope). A comment states a value when it starts with a number or a braced
list; its statement is then checked on the same line: an expression
statement's value, or a declaration's variable (`T name = ...;`), compared
with == to the stated value, converted to the checked type. #line directives
keep compiler errors and failed checks on README lines."""

import re
import sys

readme, out = sys.argv[1:]
text = open(readme, encoding="utf-8").read()
STATED = re.compile(r"^(?P<code>.*;)\s*//\s*(?P<value>-?\d[\w.+-]*|\{[^}]*\})")
DECLARED = re.compile(r"^\s*[\w:]+(?:<[^;=]*>)?\s+(?P<name>\w+)\s*[=({]")

includes, body, checks = [], [], 0
for block in re.finditer(r"^```cpp\n(.*?)^```", text, re.S | re.M):
    first = text.count("\n", 0, block.start(1)) + 1
    for n, line in enumerate(block.group(1).splitlines(), first):
        if line.startswith("#include"):
            includes += [f'#line {n} "{readme}"', line]
            continue
        body.append(f'#line {n} "{readme}"')
        m = STATED.match(line)
        if m is None:
            body.append(line)
            continue
        code, value = m["code"], m["value"]
        declared = DECLARED.match(code)
        if declared:
            body.append(f"{code} check({declared['name']}, {{{value.strip('{}')}}}, \"{value}\", __LINE__);")
        else:
            body.append(f"check(({code[:-1]}), {{{value.strip('{}')}}}, \"{value}\", __LINE__);")
        checks += 1
if checks == 0:
    sys.exit(f"{readme}: no C++ example states a value")

with open(out, "w", encoding="utf-8") as f:
    f.write(f"""// Generated from {readme} by readme_cpp.py.
#include <cstdio>
#include <type_traits>
{chr(10).join(includes)}

namespace {{
int failures = 0;

template <class T>
void check(const T& got, const std::type_identity_t<T>& stated, const char* text, int line) {{
    constexpr const char* readme = "{readme}";
    if (got == stated) return;
    ++failures;
    if constexpr (std::is_arithmetic_v<T>)
        std::printf("%s:%d: gives %.17g, stated %s\\n", readme, line, static_cast<double>(got), text);
    else
        std::printf("%s:%d: gives another value than the stated %s\\n", readme, line, text);
}}
}}  // namespace

int main() {{
{chr(10).join(body)}
    std::printf("%d of {checks} stated values differ\\n", failures);
    return failures != 0;
}}
""")
