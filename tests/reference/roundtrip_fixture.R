# Writes tests/data/formats/haven_study.dta and haven_study.sav: a small study as R users keep
# one, for the round trip through velloc's OUT= (python/tests/test_stata_output.py). Run from
# the repository root:  Rscript tests/reference/roundtrip_fixture.R
suppressPackageStartupMessages(library(haven))
set.seed(20261208)
n <- 60
x <- round(rnorm(n, 40, 10), 2)
treat <- rbinom(n, 1, plogis(-2 + 0.05 * x))
st <- data.frame(id = seq_len(n))
st$treat <- labelled(treat, c(control = 0, treated = 1), label = "Job training")
st$age <- x
attr(st$age, "label") <- "Age in years"
# Income: system missing in two rows, Stata's extended missing .a and .b in two more.
inc <- round(rexp(n, 1 / 20000), 2)
inc[c(3, 17)] <- NA
st$income <- inc
st$income[c(8, 40)] <- c(tagged_na("a"), tagged_na("b"))
attr(st$income, "label") <- "Annual income"
st$region <- labelled(sample(1:3, n, TRUE), c(north = 1, south = 2, east = 3))
st$note <- ifelse(seq_len(n) %% 7 == 0, "follow-up \u00e9t\u00e9", "")
write_dta(st, "tests/data/formats/haven_study.dta", version = 14)
# SPSS: the same, with income user-missing at -99 (rows 8 and 40) instead of tagged values.
sp <- st
inc_sp <- inc
inc_sp[c(8, 40)] <- -99
sp$income <- labelled_spss(inc_sp, c(refused = -99), na_values = -99, label = "Annual income")
write_sav(sp, "tests/data/formats/haven_study.sav")
