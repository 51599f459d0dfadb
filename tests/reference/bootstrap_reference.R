# Reference bootstrap of the treatment effect after weighting and after strata, with the
# propensity model refitted by glm in every replicate (R's boot package drawing observations).
# Run once from the project root:
#   Rscript tests/reference/bootstrap_reference.R
# It writes tests/data/effect/boot_study.csv (a synthetic study with a known logistic score)
# and tests/data/effect/boot_reference.csv: per case the full-sample estimate, the bootstrap
# standard error and quantiles of the replicate distribution. The random streams differ from
# velloc's, so tests compare the standard errors to a tolerance set by the Monte Carlo error,
# not digit by digit.
suppressPackageStartupMessages(library(boot))
dir <- "tests/data/effect"
set.seed(20261208)
n <- 20000
x1 <- round(rnorm(n), 4)
x2 <- round(rnorm(n), 4)
c <- rbinom(n, 1, 0.4)
lp <- -0.8 + 0.9 * x1 + 0.6 * x2 + 0.5 * c
t <- rbinom(n, 1, plogis(lp))
# The outcome depends strongly on the model's covariates, so that the estimation of the score
# matters for the error of the weighted estimate.
y <- round(1 + 1.5 * t + 2 * x1 + 1 * x2 + 0.5 * c + rnorm(n), 4)
study <- data.frame(id = seq_len(n), t = t, x1 = x1, x2 = x2, c = c, y = y)
fitted_ps <- function(d) {
  m <- glm(t ~ x1 + x2 + factor(c), family = binomial, data = d,
           control = glm.control(epsilon = 1e-12, maxit = 50))
  fitted(m)
}
study$ps <- round(fitted_ps(study), 12)
write.csv(study, file.path(dir, "boot_study.csv"), row.names = FALSE)

# Weighted difference of means: ATT weights (1, p / (1 - p)) or ATE weights (1/p, 1/(1 - p)).
weighted_diff <- function(d, p, estimand) {
  w <- if (estimand == "ATT") ifelse(d$t == 1, 1, p / (1 - p)) else
    ifelse(d$t == 1, 1 / p, 1 / (1 - p))
  tr <- d$t == 1
  sum(w[tr] * d$y[tr]) / sum(w[tr]) - sum(w[!tr] * d$y[!tr]) / sum(w[!tr])
}
# K strata of the score: cut k halfway between the c_k-th and (c_k + 1)-th smallest key score,
# c_k = ceiling(k (N + 1) / K) - 1; weighted by stratum size (ATE).
strata_diff <- function(d, p, K = 5, key_treated = TRUE) {
  keys <- sort(if (key_treated) p[d$t == 1] else p)
  N <- length(keys)
  ck <- ceiling((1:(K - 1)) * (N + 1) / K) - 1
  cuts <- (keys[ck] + keys[ck + 1]) / 2
  s <- findInterval(p, cuts, left.open = TRUE) + 1
  est <- 0
  for (k in 1:K) {
    in_s <- s == k
    est <- est + mean(in_s) * (mean(d$y[in_s & d$t == 1]) - mean(d$y[in_s & d$t == 0]))
  }
  est
}
statistic <- function(kind, refit) {
  function(d, i) {
    b <- d[i, ]
    p <- if (refit) fitted_ps(b) else b$ps
    if (kind == "strataate") strata_diff(b, p) else
      weighted_diff(b, p, if (kind == "attwgt") "ATT" else "ATE")
  }
}
nrep <- 1500
cases <- list(c("attwgt", TRUE), c("attwgt", FALSE), c("atewgt", TRUE), c("atewgt", FALSE),
              c("strataate", TRUE))
rows <- list()
for (cs in cases) {
  kind <- cs[1]; refit <- as.logical(cs[2])
  set.seed(4711)
  b <- boot(study, statistic(kind, refit), R = nrep)
  q <- quantile(b$t[, 1], c(0.025, 0.05, 0.5, 0.95, 0.975), type = 7)
  rows[[length(rows) + 1]] <- data.frame(case = kind, refit = as.integer(refit), nrep = nrep,
    estimate = sprintf("%.12g", b$t0), se = sprintf("%.8g", sd(b$t[, 1])),
    q025 = sprintf("%.8g", q[1]), q05 = sprintf("%.8g", q[2]), q50 = sprintf("%.8g", q[3]),
    q95 = sprintf("%.8g", q[4]), q975 = sprintf("%.8g", q[5]))
}
write.csv(do.call(rbind, rows), file.path(dir, "boot_reference.csv"), row.names = FALSE,
          quote = FALSE)
