#' Plot the results of a run
#'
#' One column of panels per stage, as the program's figure: in sampled modes
#' the distribution of the quality of all selected (a histogram, its mean
#' marked) and of every group's Cum. AI (boxes from the 25th to the 75th
#' percentile with the median, whiskers to the 5th and 95th, the means
#' marked, percentiles by the report's rule); in
#' exact mode each group's quality and Cum. AI as points. Cum. AI panels carry
#' a reference line at 0.8 (the four-fifths rule).
#'
#' @param x A `selquant_result`.
#' @param ... Passed to the plotting functions.
#' @return `x`, invisibly.
#' @examples
#' d <- read_design(system.file("extdata", "two_stage_design.toml", package = "selquant"))
#' d$samples <- 100
#' plot(evaluate(d, threads = 1, epoch = 1772874303))
#' @export
# The report's percentile of a series: the value at p n / 100 of the sorted
# values (the first at least), as the summary and the program's figure take it.
report_percentiles <- function(v, p) {
  v <- sort(v)
  if (!length(v)) return(rep(NA_real_, length(p)))
  v[pmin(pmax(floor(p * length(v) / 100), 1), length(v))]
}

plot.selquant_result <- function(x, ...) {
  r <- x$results
  r <- r[is.finite(r$quality_all) & is.finite(r$cum_ai), ]
  stages <- seq_len(nrow(x$design$stages))
  groups <- levels(r$group)
  old <- graphics::par(mfrow = c(2L, length(stages)), mar = c(4, 4, 2.5, 1), oma = c(0, 0, 2, 0))
  on.exit(graphics::par(old))
  sampled <- x$design$sampling != "exact"
  colours <- grDevices::hcl.colors(max(2L, length(groups)), "Dark 3")
  for (s in stages) {
    rs <- r[r$stage == s, ]
    all <- rs[!duplicated(rs$sample), ]
    if (sampled) {
      graphics::hist(all$quality_all, breaks = 20, main = paste("Stage", s), col = "grey85",
                     border = "white", xlab = "quality of all selected", ...)
      graphics::abline(v = mean(all$quality_all), lwd = 2)
    } else {
      graphics::plot(seq_along(groups), rs$quality[match(groups, rs$group)], pch = 19,
                     col = colours, xaxt = "n", xlim = c(0.5, length(groups) + 0.5),
                     main = paste("Stage", s), xlab = "", ylab = "quality of the selected", ...)
      graphics::axis(1, at = seq_along(groups), labels = groups)
      graphics::abline(h = rs$quality_all[1], lty = 2)
    }
  }
  for (s in stages) {
    rs <- r[r$stage == s, ]
    if (sampled) {
      by_group <- split(rs$cum_ai, factor(rs$group, levels = groups))
      stats <- vapply(by_group, function(v) report_percentiles(v, c(5, 25, 50, 75, 95)), numeric(5))
      graphics::bxp(list(stats = stats, n = lengths(by_group), names = groups),
                    boxfill = colours, main = "", xlab = "", ylab = "Cum. AI", ...)
      graphics::points(seq_along(groups), tapply(rs$cum_ai, rs$group, mean), pch = 4, lwd = 2)
    } else {
      graphics::plot(seq_along(groups), rs$cum_ai[match(groups, rs$group)], pch = 19,
                     col = colours, xaxt = "n", xlim = c(0.5, length(groups) + 0.5),
                     xlab = "", ylab = "Cum. AI", ...)
      graphics::axis(1, at = seq_along(groups), labels = groups)
    }
    graphics::abline(h = 0.8, lty = 3, col = "firebrick")
  }
  graphics::mtext(sprintf("SELQUANT: %d stage%s, %d group%s, %s", length(stages), plural(stages),
                          length(groups), plural(groups), x$design$sampling),
                  outer = TRUE, font = 2)
  invisible(x)
}
