"""The rewrite in one python3 process, as a user would write it: every *.html page of the
current folder copied to its .php page with each ".html" rewritten, and the same console
lines."""
import glob
import os

print("Copy .html to .php including changing internal links in current folder.")
for page in glob.glob("*.html"):
    if not os.path.isfile(page):
        continue
    print("=" * 41)
    target = page[: -len(".html")] + ".php"
    with open(page, encoding="utf-8", errors="surrogateescape") as src, open(
        target, "w", encoding="utf-8", errors="surrogateescape"
    ) as dst:
        print("Created :", target)
        for line in src:
            if ".html" in line:
                line = line.replace(".html", ".php")
                print(line, end="")
            dst.write(line)
print("\nMade with python3")
