# Reference values of the propensity model tables (PSModelEstimates, PSModelFit), written to
# tests/data/psmodel/. Run once from the project root:
#   Rscript tests/reference/psmodel_tables_reference.R
# R glm (binomial, logit link) iterated to 1e-14, summary() for the standard errors and Wald
# tests. CLASS variables are coded with their last level as the reference (relevel), which
# is what the procedure's coding fixes at 0, so the parameters coincide one to one.
# The c-statistic is computed separately as a weighted Mann-Whitney count over all
# treated-control pairs of fitted scores (ties one half), not from glm.
dir <- "tests/data/psmodel"
d <- read.csv("tests/data/lalonde/lalonde.csv")

# The BY/FREQ data: two groups (g = id mod 2, sorted by g), a frequency f = 1 + id mod 3,
# and re75 missing for the ids divisible by 37 and educ for those divisible by 53 (so both
# variables are named when rows are dropped).
b <- d
b$g <- b$id %% 2
b$f <- 1 + b$id %% 3
b$re75[b$id %% 37 == 0] <- NA
b$educ[b$id %% 53 == 0] <- NA
b <- b[order(b$g, b$id), c("id", "g", "f", "treat", "age", "educ", "race", "married",
                          "nodegree", "re74", "re75")]
write.csv(b, file.path(dir, "lalonde_by_freq.csv"), row.names = FALSE, quote = FALSE, na = "")

lastRef <- function(x) {
  f <- factor(x)
  relevel(f, ref = tail(levels(f), 1))
}

# Our parameter names: "Intercept", "age", "race = black", "age*educ".
ourName <- function(term, classes) {
  if (term == "(Intercept)") return("Intercept")
  if (term == "age:educ") return("age*educ")
  for (v in classes) {
    if (startsWith(term, v)) return(paste0(v, " = ", substring(term, nchar(v) + 1)))
  }
  term
}

mannWhitney <- function(score, y, w) {
  t <- score[y == 1]; c <- score[y == 0]
  wt <- w[y == 1]; wc <- w[y == 0]
  gt <- outer(t, c, ">") + 0.5 * outer(t, c, "==")
  sum(outer(wt, wc) * gt) / (sum(wt) * sum(wc))
}

est <- list()
fit <- list()
run <- function(case, form, data, w, classes) {
  for (v in classes) data[[v]] <- lastRef(data[[v]])
  data$w__ <- w
  m <- glm(form, family = binomial, data = data, weights = w__,
           control = glm.control(epsilon = 1e-14, maxit = 100))
  stopifnot(m$converged)
  s <- coef(summary(m))
  z <- qnorm(0.975)
  est[[length(est) + 1]] <<- data.frame(
    case = case,
    parameter = vapply(rownames(s), ourName, "", classes = classes),
    estimate = sprintf("%.17g", s[, 1]), stderr = sprintf("%.17g", s[, 2]),
    z = sprintf("%.17g", s[, 3]), p = sprintf("%.17g", s[, 4]),
    oddsratio = sprintf("%.17g", exp(s[, 1])),
    lower = sprintf("%.17g", exp(s[, 1] - z * s[, 2])),
    upper = sprintf("%.17g", exp(s[, 1] + z * s[, 2])))
  used <- as.integer(rownames(m$model))
  yy <- m$y
  ww <- m$prior.weights
  # -2 log L from the Bernoulli likelihood of each weighted row, checked against R's own.
  p <- m$fitted.values
  m2ll <- -2 * sum(ww * (yy * log(p) + (1 - yy) * log(1 - p)))
  stopifnot(abs(m2ll - m$deviance) < 1e-8 * m2ll)
  stopifnot(abs(m$aic - (m2ll + 2 * length(coef(m)))) < 1e-8 * m2ll)
  fit[[length(fit) + 1]] <<- data.frame(
    case = case, read = nrow(data), used = length(used), dropped = nrow(data) - length(used),
    m2ll = sprintf("%.17g", m2ll), aic = sprintf("%.17g", m$aic),
    c = sprintf("%.17g", mannWhitney(m$linear.predictors, yy, ww)))
}

classes <- c("race", "married", "nodegree")
run("main", treat ~ age + educ + race + married + nodegree + re74 + re75 + age:educ, d,
    rep(1, nrow(d)), classes)
form <- treat ~ age + educ + race + married + nodegree + re74 + re75
for (g in 0:1) {
  s <- b[b$g == g, ]
  run(paste0("by", g), form, s, s$f, classes)
}
write.csv(do.call(rbind, est), file.path(dir, "estimates.csv"), row.names = FALSE, quote = FALSE)
write.csv(do.call(rbind, fit), file.path(dir, "fit.csv"), row.names = FALSE, quote = FALSE)
