#!/usr/bin/env python3
"""Makes the benchmark's data: a site of many pages, one large page of ordinary lines and one
page that is a single long line. Text is UTF-8 with two-, three- and four-byte characters;
one line in ten carries two links to other pages. The output depends only on the seed.

Two mixes of text: "plain", about one character in seventy outside ASCII (a European site in
English), and "rich", where about three words in sixteen are accented Latin or CJK words, so
nearly every line holds some (a site in French, German or Japanese).

usage: gen.py DIR [--mix plain|rich] [--pages N] [--page-kb K] [--big-mb M] [--line-mb L]
              [--seed S]
"""
import argparse
import os
import random

# Mostly English words; some accented ones, a few symbols and, rarely, other scripts, so that
# about one character in seventy is outside ASCII, as in the pages of a European site.
ASCII_WORDS = (
    "the of and to in is for on that with as by at from this page site menu about contact "
    "price offer table chapter section garden window market river station morning evening "
    "summer winter letter number history picture village mountain library kitchen travel "
    "we you they it be are was were have has had will would can could one two three four "
    "first last next other new old good great small large long little own right high "
    "people time year day way thing man woman child world life hand part place case week "
    "company system program question work government night point home water room mother "
    "area money story fact month lot study book eye job word business issue side kind head"
).split()
ACCENTED_WORDS = (
    "café naïve Größe über résumé crème déjà señor façade Ålesund smörgåsbord élève años "
    "Zürich São Kraków Besançon Málaga Øresund"
).split()
OTHER_WORDS = "€ — « » … 日本語 東京 Ελλάδα Москва 🙂".split()
# The rich mix adds these: CJK words of two to four characters, three bytes each.
CJK_WORDS = (
    "漢字 日本語 東京 大阪 京都 文化 歴史 写真 旅行 料理 音楽 図書館 駅前 山登り 天気予報 "
    "中文 北京 上海 学生 老师 电脑 网站 新闻 时间 朋友 世界 生活 工作 问题 花園"
).split()

# Per mix: the share of accented words, of CJK words and of other words (symbols, Greek,
# Cyrillic, an emoji); the rest are ASCII.
MIXES = {
    "plain": (0.05, 0.0, 0.01),
    "rich": (0.11, 0.07, 0.01),
}


def pick_words(rng, k, mix):
    accented, cjk, other = MIXES[mix]
    words = []
    for _ in range(k):
        r = rng.random()
        if r < accented:
            words.append(rng.choice(ACCENTED_WORDS))
        elif r < accented + cjk:
            words.append(rng.choice(CJK_WORDS))
        elif r < accented + cjk + other:
            words.append(rng.choice(OTHER_WORDS))
        else:
            words.append(rng.choice(ASCII_WORDS))
    return words


def make_pool(rng, pages, mix, size=65536):
    """Distinct lines to draw from: nine plain lines for every line with two links."""
    pool_plain, pool_links = [], []
    for i in range(size):
        words = pick_words(rng, rng.randint(8, 16), mix)
        text = " ".join(words)
        if i % 10 == 0:
            a, b = rng.randrange(pages), rng.randrange(pages)
            pool_links.append(
                f'<p>{text} <a href="page{a:04d}.html">{words[0]}</a> and '
                f'<a href="page{b:04d}.html">{words[-1]}</a></p>\n'
            )
        else:
            pool_plain.append(f"<p>{text}</p>\n")
    return [line.encode() for line in pool_plain], [line.encode() for line in pool_links]


def lines_of(rng, plain, links, total_bytes):
    """Lines drawn from the pools, one in ten with links, until total_bytes are reached."""
    out, size = [], 0
    while size < total_bytes:
        batch = rng.choices(plain, k=900) + rng.choices(links, k=100)
        rng.shuffle(batch)
        for line in batch:
            out.append(line)
            size += len(line)
            if size >= total_bytes:
                break
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dir")
    ap.add_argument("--mix", choices=sorted(MIXES), default="plain")
    ap.add_argument("--pages", type=int, default=2000)
    ap.add_argument("--page-kb", type=int, default=50)
    ap.add_argument("--big-mb", type=int, default=256)
    ap.add_argument("--line-mb", type=int, default=64)
    ap.add_argument("--seed", type=int, default=7)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    plain, links = make_pool(rng, args.pages, args.mix)

    site = os.path.join(args.dir, "site")
    os.makedirs(site, exist_ok=True)
    head = b"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>page</title></head>\n"
    for p in range(args.pages):
        body = lines_of(rng, plain, links, args.page_kb * 1000 - len(head) - 16)
        with open(os.path.join(site, f"page{p:04d}.html"), "wb") as f:
            f.write(head)
            f.writelines(body)
            f.write(b"</html>\n")

    big = os.path.join(args.dir, "big")
    os.makedirs(big, exist_ok=True)
    # The large page: blocks of about 4 MB of whole lines, each block drawn afresh.
    with open(os.path.join(big, "big.html"), "wb") as f:
        target = args.big_mb << 20
        written = 0
        while written < target:
            block = b"".join(lines_of(rng, plain, links, min(4 << 20, target - written)))
            f.write(block)
            written += len(block)

    line = os.path.join(args.dir, "line")
    os.makedirs(line, exist_ok=True)
    # One line: the pool's lines without their line ends, so a link comes every few hundred bytes.
    with open(os.path.join(line, "line.html"), "wb") as f:
        target = args.line_mb << 20
        parts = [l.rstrip(b"\n") + b" " for l in lines_of(rng, plain, links, target)]
        data = b"".join(parts)[: target - 1]
        # Never cut a character in two: step back to the start of a character.
        while data and (data[-1] & 0xC0) == 0x80:
            data = data[:-1]
        if data and data[-1] >= 0xC0:
            data = data[:-1]
        f.write(data + b"\n")


if __name__ == "__main__":
    main()
