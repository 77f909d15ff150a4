# The rewrite in one perl process, as a user would write it: every *.html page of the current
# folder copied to its .php page with each ".html" rewritten, and the same console lines.
use strict;
use warnings;

print "Copy .html to .php including changing internal links in current folder.\n";
for my $page (glob "*.html") {
  next unless -f $page;
  print "=" x 41, "\n";
  open(my $in, "<", $page) or next;
  (my $target = $page) =~ s/\.html$/.php/;
  open(my $out, ">", $target) or die "$target files are open, program cancelled.\n";
  print "Created : $target\n";
  while (my $line = <$in>) {
    print $line if $line =~ s/\.html/.php/g;
    print $out $line;
  }
  close $in;
  close $out;
}
print "\nMade with perl\n";
