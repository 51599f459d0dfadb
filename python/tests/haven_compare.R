# Reads a Stata or SPSS file and velloc's OUT= copy of it with haven and prints the names of the
# original columns whose values, types or labels differ (display formats are not carried over;
# extended and user-missing values are missing in the copy). Used by test_stata_output.py.
suppressPackageStartupMessages(library(haven))
args <- commandArgs(TRUE)
rd <- if (grepl("dta$", args[1])) read_dta else read_sav
a <- zap_formats(rd(args[1])); b <- zap_formats(rd(args[2]))
bad <- Filter(function(v) !identical(zap_missing(a[[v]]), b[[v]]), names(a))
if (nrow(a) != nrow(b)) bad <- c(bad, "(row count)")
cat(bad, sep = "\n")
