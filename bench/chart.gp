# The benchmark's chart: median wall time of each contender on each data set of both mixes of
# text (plain, then rich), log scale.
# usage: gnuplot -e "csv='results.csv'; png='results.png'" chart.gp
set terminal pngcairo size 1100,460 font "sans,10"
set output png
set datafile separator ","
set title "pagehop and the tools a user would pick instead (median wall time, lower is better)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set ylabel "seconds (log scale)"
set yrange [*:*]
set grid ytics
set key top left
set xtics ("site, plain" 0, "256 MB page, plain" 1, "64 MB line, plain" 2, \
           "site, rich" 3, "256 MB page, rich" 4, "64 MB line, rich" 5)
# One column per contender: rows of the CSV picked by data set and contender.
times_of(c) = sprintf("< awk -F, -v c=%s 'NR>1 && $2==c && $1!=\"reference\" {print $4}' %s", c, csv)
plot times_of("pagehop") using 1 title "pagehop" lc rgb "#1f77b4", \
     times_of("floor") using 1 title "plain copy (floor)" lc rgb "#7f7f7f", \
     times_of("perl") using 1 title "perl" lc rgb "#2ca02c", \
     times_of("python") using 1 title "python3" lc rgb "#ff7f0e", \
     times_of("awk") using 1 title "awk (mawk)" lc rgb "#9467bd", \
     times_of("node") using 1 title "node" lc rgb "#8c564b", \
     times_of("sed") using 1 title "sed per page" lc rgb "#d62728"
