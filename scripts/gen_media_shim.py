#!/usr/bin/env python3
"""Writes src/platform/media_shim.cpp: one forwarding definition for each
media-library function the code calls.

The program does not link the media libraries: they bring in about 130 shared
objects whose loading is most of the start-up time of a short batch. Each
function the code calls is defined here under its own name and forwards, on
its first call, to the function of the library loaded then (media_library.cpp).

  scripts/gen_media_shim.py            names taken from the sources
  scripts/gen_media_shim.py NAME ...   these names as well

The prototypes are read from the installed headers (through the C
preprocessor), so the definitions always match the installed version.
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "src/platform/media_shim.cpp")

HEADERS = [
    "libavformat/avformat.h", "libavformat/avio.h", "libavcodec/avcodec.h",
    "libavutil/avutil.h", "libavutil/audio_fifo.h", "libavutil/avstring.h",
    "libavutil/channel_layout.h",
    "libavutil/dict.h", "libavutil/error.h", "libavutil/frame.h", "libavutil/log.h",
    "libavutil/mathematics.h", "libavutil/mem.h", "libavutil/opt.h",
    "libavutil/samplefmt.h", "libavutil/imgutils.h", "libavutil/pixdesc.h",
    "libswresample/swresample.h", "libswscale/swscale.h",
]
PREFIXES = ("av_", "avcodec_", "avformat_", "avio_", "swr_", "sws_")
# Defined in the headers themselves (inline) or variadic: never forwarded.
SKIP = {"av_log", "av_make_error_string", "av_x_if_null", "av_q2d", "av_make_q",
        "av_cmp_q", "av_inv_q", "av_q2intfloat", "av_clip_c", "avio_tell"}
KEYWORDS = {"int", "char", "short", "long", "unsigned", "signed", "double", "float",
            "void", "const", "struct", "enum", "size_t", "int64_t", "uint64_t", "int32_t",
            "uint32_t", "int16_t", "uint16_t", "int8_t", "uint8_t", "uintptr_t",
            "volatile", "restrict", "__restrict"}


def used_names():
    names = set()
    for base in ("src",):
        for dirpath, _, files in os.walk(os.path.join(ROOT, base)):
            for f in files:
                if not f.endswith((".cpp", ".h")) or f == "media_shim.cpp":
                    continue
                text = open(os.path.join(dirpath, f), encoding="utf-8").read()
                if "<libav" not in text and "<libsw" not in text:
                    continue
                for m in re.finditer(r"\b((?:av|avcodec|avformat|avio|swr|sws)_[A-Za-z0-9_]+)\s*\(", text):
                    names.add(m.group(1))
    return names


def preprocessed():
    src = "".join(f"#include <{h}>\n" for h in HEADERS)
    out = subprocess.run(["cc", "-E", "-P", "-x", "c", "-"], input=src, text=True,
                         capture_output=True, check=True).stdout
    out = re.sub(r"\s+", " ", out)
    return out


def strip_attributes(text):
    while True:
        i = text.find("__attribute__")
        if i < 0:
            return text
        j = text.find("(", i)
        depth, k = 0, j
        while k < len(text):
            if text[k] == "(":
                depth += 1
            elif text[k] == ")":
                depth -= 1
                if depth == 0:
                    break
            k += 1
        text = text[:i] + text[k + 1:]


def split_params(params):
    parts, depth, cur = [], 0, ""
    for ch in params:
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur.strip())
    return parts


def named(param, index):
    """The parameter with our own name a<index>; returns (declaration, name)."""
    name = f"a{index}"
    if "(*" in param:  # a function pointer: (*name)(...)
        head, rest = param.split("(*", 1)
        inner_end = rest.index(")")
        return f"{head}(*{name}{rest[inner_end:]}", name
    array = ""
    if "[" in param:
        array = param[param.index("["):]
        param = param[:param.index("[")].strip()
    tokens = re.findall(r"[A-Za-z_][A-Za-z_0-9]*|\*", param)
    words = [t for t in tokens if t != "*"]
    has_name = (len(tokens) >= 2 and tokens[-1] != "*" and tokens[-1] not in KEYWORDS
                and not (len(words) == 2 and words[0] in ("struct", "enum")))
    if has_name:
        param = param[: param.rfind(tokens[-1])].rstrip()
    if array:
        array = array.replace("[]", "[]")
    return f"{param} {name}{array}", name


def prototype(text, fn):
    m = re.search(r"(?:^|[;}])([^;{}]*?)\b" + fn + r"\s*\(", text)
    if not m:
        sys.exit(f"no declaration of {fn} in the media headers")
    ret = strip_attributes(m.group(1)).replace("extern ", "").strip()
    i = m.end()
    depth, k = 1, i
    while depth:
        if text[k] == "(":
            depth += 1
        elif text[k] == ")":
            depth -= 1
        k += 1
    params = text[i:k - 1].strip()
    if params in ("", "void"):
        return ret, "void", ""
    if "..." in params:
        sys.exit(f"{fn} takes a variable argument list and cannot be forwarded")
    decls, args = [], []
    for index, p in enumerate(split_params(params)):
        d, n = named(p, index)
        decls.append(d)
        args.append(n)
    return ret, ", ".join(decls), ", ".join(args)


def main():
    names = sorted((used_names() | set(sys.argv[1:])) - SKIP)
    text = preprocessed()
    lines = [
        "// Generated by scripts/gen_media_shim.py from the installed media-library",
        "// headers; run it again when the code calls a further function of them.",
        "// Each definition forwards to the function of the same name in the",
        "// libraries loaded on first use (media_library.cpp).",
        "",
        '#include "platform/media_library.h"',
        "",
        'extern "C" {',
    ] + [f"#include <{h}>" for h in HEADERS] + ["}", "", 'extern "C" {', ""]
    for fn in names:
        ret, decls, args = prototype(text, fn)
        call = f"fn({args})"
        body = f"return {call};" if ret != "void" else f"{call};"
        lines += [
            f"{ret} {fn}({decls}) {{",
            "    static const auto fn =",
            f"        reinterpret_cast<decltype(&{fn})>(platform::media::Symbol(\"{fn}\"));",
            f"    {body}",
            "}",
            "",
        ]
    lines += ['}  // extern "C"', ""]
    open(OUT, "w").write("\n".join(lines))
    print(f"{len(names)} functions written to {os.path.relpath(OUT, ROOT)}")


if __name__ == "__main__":
    main()
