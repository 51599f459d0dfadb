# Reference treatment effects on velloc's adjusted data sets of the job-training data
# (tests/data/effect/*.csv, made by effect_datasets.vlc). Run once from the project root:
#   Rscript tests/reference/effect_reference.R
# and it writes tests/data/effect/reference.csv. R 4.2 with Debian's r-cran-sandwich,
# r-cran-survey; the GLMs are iterated to 1e-14. One row per case, outcome, measure and estimand: the estimate (the ratio for
# RATIO and ODDSRATIO), its standard error (of the log ratio for ratios), and each group's
# adjusted mean with its standard error.
suppressPackageStartupMessages({ library(sandwich); library(survey) })
dir <- "tests/data/effect"
rows <- list()
emit <- function(case, outcome, measure, estimand, covs, se_type, est, se, m1, s1, m0, s0) {
  rows[[length(rows) + 1]] <<- data.frame(case = case, outcome = outcome, measure = measure,
    estimand = estimand, covariates = covs, se_type = se_type, estimate = est, se = se,
    mean1 = m1, se1 = s1, mean0 = m0, se0 = s0)
}
load <- function(case) {
  d <- read.csv(file.path(dir, paste0(case, ".csv")))
  if (!"w" %in% names(d)) d$w <- 1
  if ("set" %in% names(d)) d <- d[!is.na(d$set), ]
  d
}

# Group means from the regression on treatment and the covariance of (mean1, mean0).
means <- function(b, V) {
  g1 <- c(1, 1); g0 <- c(1, 0)
  list(m1 = sum(g1 * b), m0 = sum(g0 * b), v1 = c(t(g1) %*% V %*% g1),
       v0 = c(t(g0) %*% V %*% g0), c10 = c(t(g1) %*% V %*% g0))
}
measure_of <- function(m, measure) {
  if (measure == "DIFF") {
    est <- m$m1 - m$m0; d1 <- 1; d0 <- -1
  } else if (measure == "RATIO") {
    est <- m$m1 / m$m0; d1 <- 1 / m$m1; d0 <- -1 / m$m0
  } else {
    est <- (m$m1 / (1 - m$m1)) / (m$m0 / (1 - m$m0))
    d1 <- 1 / (m$m1 * (1 - m$m1)); d0 <- -1 / (m$m0 * (1 - m$m0))
  }
  c(est, sqrt(d1^2 * m$v1 + d0^2 * m$v0 + 2 * d1 * d0 * m$c10))
}

# 1. Weighted regression of the outcome on treatment: HC0 after weights and without
#    adjustment, CR1 by matched set after matching (HC0 after matching with replacement).
simple <- list(att = c("ATT", "HC0"), ate = c("ATE", "HC0"), atestab = c("ATE", "HC0"),
               none = c("ATE", "HC0"), greedy1 = c("ATT", "CR1"), greedy2 = c("ATT", "CR1"),
               optimal = c("ATT", "CR1"), varratio = c("ATT", "CR1"), full = c("ATT", "CR1"),
               fullate = c("ATE", "CR1"), replace = c("ATT", "HC0"))
for (case in names(simple)) {
  d <- load(case); est <- simple[[case]][1]; type <- simple[[case]][2]
  for (y in c("re78", "employed78")) {
    f <- lm(reformulate("treat", y), data = d, weights = w)
    V <- if (type == "HC0") vcovHC(f, type = "HC0") else vcovCL(f, cluster = ~set, type = "HC1")
    m <- means(coef(f), V)
    measures <- if (y == "re78") "DIFF" else c("DIFF", "RATIO", "ODDSRATIO")
    for (ms in measures) {
      r <- measure_of(m, ms)
      emit(case, y, ms, est, "", type, r[1], r[2], m$m1, sqrt(m$v1), m$m0, sqrt(m$v0))
    }
  }
}

# 2. The ratio measures of the 0/1 outcome after ATT weights as generalized linear models:
#    the coefficient of treatment in a weighted quasi-binomial (odds ratio) or quasi-Poisson
#    (risk ratio) model with the HC0 sandwich, and survey::svyglm, whose design-based variance
#    is the HC0 one times n / (n - 1).
for (case in c("att", "ate")) {
  d <- load(case); est <- simple[[case]][1]
  des <- svydesign(ids = ~1, weights = ~w, data = d)
  for (fam in c("RATIO", "ODDSRATIO")) {
    family <- if (fam == "RATIO") quasipoisson() else quasibinomial()
    tight <- glm.control(epsilon = 1e-14, maxit = 100)
    g <- suppressWarnings(glm(employed78 ~ treat, data = d, weights = w, family = family,
                              control = tight))
    s <- svyglm(employed78 ~ treat, design = des, family = family, control = tight)
    emit(case, "employed78", fam, est, "", "GLM-HC0", exp(coef(g)[2]),
         sqrt(vcovHC(g, type = "HC0")[2, 2]), NA, NA, NA, NA)
    emit(case, "employed78", fam, est, "", "SVYGLM", exp(coef(s)[2]), sqrt(vcov(s)[2, 2]),
         NA, NA, NA, NA)
  }
  s <- svyglm(employed78 ~ treat, design = des)
  emit(case, "employed78", "DIFF", est, "", "SVYGLM", coef(s)[2], sqrt(vcov(s)[2, 2]),
       NA, NA, NA, NA)
}

# 3. The stratified estimator: sum_s w_s (m1s - m0s) with w_s the stratum's share of the
#    treated (ATT) or of all observations (ATE); variance sum_s w_s^2 (v1s/n1s + v0s/n0s).
for (case in c("strataatt", "strataate")) {
  d <- load(case)
  for (y in c("re78", "employed78")) {
    parts <- lapply(split(d, d$stratum), function(s) {
      a <- s[[y]][s$treat == 1]; b <- s[[y]][s$treat == 0]
      c(n1 = length(a), n = nrow(s), m1 = mean(a), m0 = mean(b),
        v1 = var(a) / length(a), v0 = var(b) / length(b))
    })
    p <- do.call(rbind, parts)
    ws <- if (case == "strataatt") p[, "n1"] / sum(p[, "n1"]) else p[, "n"] / sum(p[, "n"])
    m <- list(m1 = sum(ws * p[, "m1"]), m0 = sum(ws * p[, "m0"]), v1 = sum(ws^2 * p[, "v1"]),
              v0 = sum(ws^2 * p[, "v0"]), c10 = 0)
    est <- if (case == "strataatt") "ATT" else "ATE"
    measures <- if (y == "re78") "DIFF" else c("DIFF", "RATIO", "ODDSRATIO")
    for (ms in measures) {
      r <- measure_of(m, ms)
      emit(case, y, ms, est, "", "STRATA", r[1], r[2], m$m1, sqrt(m$v1), m$m0, sqrt(m$v0))
    }
  }
}

# 4. Regression adjustment by hand: lm(y ~ treat * (covariates), weights = w); every row of
#    the target group predicted as treated and as control, the predictions averaged with the
#    weights; delta-method standard errors from the same sandwich covariance.
covs <- c("age", "educ", "re74", "re75")
gcomp <- function(case, y, estimand, type, measures) {
  d <- load(case)
  f <- lm(as.formula(paste(y, "~ treat * (", paste(covs, collapse = " + "), ")")), data = d,
          weights = w)
  V <- if (type == "HC0") vcovHC(f, type = "HC0") else vcovCL(f, cluster = ~set, type = "HC1")
  tg <- switch(estimand, ATT = d$treat == 1, ATC = d$treat == 0, ATE = rep(TRUE, nrow(d)))
  dt <- d[tg, ]
  X1 <- model.matrix(delete.response(terms(f)), transform(dt, treat = 1))
  X0 <- model.matrix(delete.response(terms(f)), transform(dt, treat = 0))
  g1 <- colSums(X1 * dt$w) / sum(dt$w); g0 <- colSums(X0 * dt$w) / sum(dt$w)
  b <- coef(f)
  m <- list(m1 = sum(g1 * b), m0 = sum(g0 * b), v1 = c(t(g1) %*% V %*% g1),
            v0 = c(t(g0) %*% V %*% g0), c10 = c(t(g1) %*% V %*% g0))
  for (ms in measures) {
    r <- measure_of(m, ms)
    emit(case, y, ms, estimand, paste(covs, collapse = " "), type, r[1], r[2], m$m1,
         sqrt(m$v1), m$m0, sqrt(m$v0))
  }
}
gcomp("att", "re78", "ATT", "HC0", "DIFF")
gcomp("ate", "re78", "ATE", "HC0", "DIFF")
gcomp("greedy2", "re78", "ATT", "CR1", "DIFF")
gcomp("full", "re78", "ATT", "CR1", "DIFF")
gcomp("none", "re78", "ATT", "HC0", "DIFF")
gcomp("none", "re78", "ATC", "HC0", "DIFF")
gcomp("att", "employed78", "ATT", "HC0", c("DIFF", "RATIO", "ODDSRATIO"))

out <- do.call(rbind, rows)
write.csv(out, file.path(dir, "reference.csv"), row.names = FALSE, na = "")
cat(nrow(out), "reference rows\n")
