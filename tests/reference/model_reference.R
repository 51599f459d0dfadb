# Reference logistic fits for the propensity model tests (tests/data/model/). Run once from
# the project root:
#   Rscript tests/reference/model_reference.R
# R 4.2 glm (binomial, logit link) iterated to 1e-14. Writes:
#   lalonde_extra.csv  the job-training data (tests/data/lalonde/lalonde.csv) with three
#                      derived columns: agek = 1e6 + age (far from zero against its spread),
#                      re7475 = re74 + re75 (an exact alias), k = 3.7 (constant) and
#                      agesq = age^2 (what age*age must equal);
#   fits.csv           per model and id the linear predictor lps;
#   coefficients.csv   per model and term the estimate (R's treatment coding; NA = aliased).
dir <- "tests/data/model"
d <- read.csv("tests/data/lalonde/lalonde.csv")
d$agek <- 1e6 + d$age
d$re7475 <- d$re74 + d$re75
d$k <- 3.7
d$agesq <- d$age^2
write.csv(d, file.path(dir, "lalonde_extra.csv"), row.names = FALSE, quote = FALSE)
d <- read.csv(file.path(dir, "lalonde_extra.csv")) # fit what the tests read
d$race <- factor(d$race)

models <- list(
  square = treat ~ age + I(age^2) + educ + race + re74,
  square_cross = treat ~ age + I(age^2 * educ) + educ,
  agek = treat ~ agek + educ + race + married + nodegree + re74 + re75,
  # The aliased column (re7475, k) adds nothing: the scores are those of the model without
  # it. glm's pivoting does not see these aliases in floating point (the IRLS diverges), so
  # the reference is the reduced model.
  alias_sum = treat ~ re74 + re75,
  alias_sum_race = treat ~ age + educ + race + married + nodegree + re74 + re75,
  alias_const = treat ~ age + re74
)
fits <- list()
coefs <- list()
for (name in names(models)) {
  f <- glm(models[[name]], family = binomial, data = d,
           control = glm.control(epsilon = 1e-14, maxit = 100))
  stopifnot(f$converged)

  fits[[name]] <- data.frame(model = name, id = d$id, lps = sprintf("%.17g", f$linear.predictors))
  b <- coef(f)
  coefs[[name]] <- data.frame(model = name, term = names(b),
                              estimate = ifelse(is.na(b), "NA", sprintf("%.17g", b)))
}
write.csv(do.call(rbind, fits), file.path(dir, "fits.csv"), row.names = FALSE, quote = FALSE)
write.csv(do.call(rbind, coefs), file.path(dir, "coefficients.csv"), row.names = FALSE,
          quote = FALSE)
