# Writes the data files of tests/data/formats with R itself (write.csv) and haven, the
# package R users read and write Stata and SPSS files with. Run from the repository root:
#   Rscript tests/reference/formats_fixtures.R
# The tests read the files and compare with the values written here; R is not needed then.
suppressPackageStartupMessages(library(haven))
out <- "tests/data/formats"
dir.create(out, showWarnings = FALSE)

# write.csv: row names (an unnamed first column), NA for missing numbers and texts, quoted
# texts (so a quoted "NA" is the two letters).
small <- data.frame(id = c(1L, 2L, 3L, 4L),
                    age = c(34.5, NA, 51, 28),
                    grp = c("a", NA, "b", "NA"),
                    stringsAsFactors = FALSE)
rownames(small) <- c("r1", "r2", "r3", "r4")
write.csv(small, file.path(out, "r_write_csv.csv"))

# The job-training data with married unknown for two men: R's glm drops those rows (612 left).
lalonde <- read.csv("tests/data/lalonde/lalonde.csv")
na_rows <- c(5, 200)
lal_na <- lalonde
lal_na$married[na_rows] <- NA
write.csv(lal_na, file.path(out, "lalonde_married_na.csv"))
fit <- glm(treat ~ age + educ + race + married + nodegree + re74 + re75,
           family = binomial, data = lal_na, control = glm.control(epsilon = 1e-14, maxit = 100))
writeLines(c(paste("nobs", nobs(fit)), paste("dropped", paste(na_rows, collapse = " "))),
           file.path(out, "lalonde_married_na_glm.txt"))

# Windows-1252 texts (the euro sign is outside Latin-1).
cp <- data.frame(city = c("Z\u00fcrich", "S\u00e3o Paulo", "\u20ac zone"), n = c(1, 2, 3))
write.csv(cp, file.path(out, "cp1252.csv"), row.names = FALSE, fileEncoding = "windows-1252")

# Stata: variable labels, value labels, an extended missing value (.a) and a system missing.
st <- data.frame(id = 1:5)
st$sex <- labelled(c(1, 2, 2, 1, tagged_na("a")), c(male = 1, female = 2), label = "Sex of respondent")
st$score <- c(1.5, NA, -2.25, 1e10, 0.1)
attr(st$score, "label") <- "Test score"
st$name <- c("Ann", "Bob", "", "D\u00e9sir\u00e9e", "Eve")
write_dta(st, file.path(out, "haven_labelled.dta"), version = 14)

# SPSS: user-missing values (9 and the range 90-99) and a value label.
sp <- data.frame(id = 1:5)
sp$smoke <- labelled_spss(c(0, 1, 9, 1, 95), c(no = 0, yes = 1, refused = 9),
                          na_values = 9, na_range = c(90, 99), label = "Smoker")
sp$bmi <- c(22.5, NA, 31.25, 19, 27)
attr(sp$bmi, "label") <- "Body mass index"
sp$site <- c("north", "south", "north", "east", "")
write_sav(sp, file.path(out, "haven_user_missing.sav"))
write_sav(sp, file.path(out, "haven_user_missing.zsav"), compress = TRUE)

# The job-training data as Stata and SPSS files: fits must equal the CSV ones bit for bit.
write_dta(lalonde, file.path(out, "lalonde.dta"), version = 14)
write_sav(lalonde, file.path(out, "lalonde.sav"))
