// The rewrite in one node process, as a user would write it: every *.html page of the current
// folder read as UTF-8 into a string and copied to its .php page with each ".html" rewritten in
// the lines that hold one, and the same console lines.
"use strict";
const fs = require("fs");

const out = [];
out.push("Copy .html to .php including changing internal links in current folder.");
for (const page of fs.readdirSync(".")) {
  if (!page.endsWith(".html") || !fs.statSync(page).isFile()) continue;
  out.push("=".repeat(41));
  const target = page.slice(0, -".html".length) + ".php";
  out.push("Created : " + target);
  const lines = fs.readFileSync(page, "utf8").split("\n");
  for (let k = 0; k < lines.length; k++) {
    if (lines[k].includes(".html")) {
      lines[k] = lines[k].replaceAll(".html", ".php");
      out.push(lines[k]);
    }
  }
  fs.writeFileSync(target, lines.join("\n"));
  process.stdout.write(out.join("\n") + "\n");
  out.length = 0;
}
process.stdout.write("\nMade with node\n");
