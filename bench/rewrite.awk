# The rewrite in one awk process, as a user would write it on one line: every *.html page named
# on the command line copied to its .php page with each ".html" rewritten, and the same console
# lines.
BEGIN { print "Copy .html to .php including changing internal links in current folder." }
FNR == 1 {
  if (out) close(out)
  out = FILENAME
  sub(/\.html$/, ".php", out)
  print "========================================="
  print "Created : " out
}
{
  if (gsub(/\.html/, ".php")) print
  print > out
}
END { print ""; print "Made with awk" }
