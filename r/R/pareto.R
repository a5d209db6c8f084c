#' Pareto-optimal stage weights
#'
#' Searches the weights of every stage whose outcomes no other weights
#' improve in every objective at once: the quality of all selected after the
#' last stage against the groups' Cum. AI after the last stage (both
#' maximized).
#'
#' @param design A `selquant_design`.
#' @param objectives 2 to 5 of `"quality"`, `"ai:GROUP"`, `"cost"` (minimized;
#'   the design needs `costs`) and `"utility"` (the design needs `utility`).
#' @param points Points along the front (with more than two objectives, the
#'   divisions of the lattice).
#' @param free Per stage the predictors whose weights are searched (a list of
#'   character vectors); by default those with a non-zero weight.
#' @param signs `"nonnegative"` or `"any"`.
#' @param uncertainty `"expected"` (the uncertain inputs at their expected
#'   values) or `"mean"` (the mean over `samples` draws).
#' @param samples Draws for the mean and the 5th to 95th percentile bands.
#' @param constraints Bounds every reported design keeps: `"MEASURE >=
#'   BOUND"` or `"MEASURE <= BOUND"`, MEASURE as an objective or `"ai:*"`
#'   (every group but the base group), e.g. `c("ai:* >= 0.8", "cost <= 60")`.
#'   With constraints one objective may do: its best design within them.
#' @param retention Per stage its retention rate: a number (fixed) or
#'   `c(low = , high = )` (searched in that range); by default the design's,
#'   fixed. No stage keeps more than the one before.
#' @param structures `"all"` or a list of layouts, each a list per stage of
#'   the predictors that enter there, e.g. `list(list(c("CA", "B"), "SI"))`;
#'   each is searched on its own and the front says which a point comes from
#'   (its column `structure`, e.g. `"CA+B|SI"`). Not with `free`.
#' @param threads,kernel,epoch As for [evaluate()]; the search uses the fast
#'   kernel unless told otherwise.
#' @return An object of class `selquant_front`: `front` (a data frame: point,
#'   with several structures its `structure`, the objectives, for uncertain inputs their bands, where retention rates
#'   are searched every stage's `rS`, where the design has them `cost` and
#'   `utility`, then the weight of every stage and predictor `wS_PREDICTOR`), `design_point` (the design's
#'   own objectives), `evaluations` and `design`.
#' @examples
#' d <- read_design(system.file("extdata", "bobko_two_stage.toml", package = "selquant"))
#' f <- pareto(d, c("quality", "ai:minority"), points = 5, threads = 1, epoch = 0)
#' f$front
#' @export
pareto <- function(design, objectives, points = 21, free = NULL,
                   signs = c("nonnegative", "any"), uncertainty = c("expected", "mean"),
                   samples = 20, constraints = NULL, retention = NULL, structures = NULL,
                   threads = 2,
                   kernel = c("fast", "specified"), epoch = NULL) {
  call <- match.call()
  if (!inherits(design, "selquant_design")) stop("pareto(): design must be a design()", call. = FALSE)
  signs <- match.arg(signs)
  uncertainty <- match.arg(uncertainty)
  kernel <- match.arg(kernel)
  threads <- whole_number(threads, "threads", 1, 1024)
  epoch <- seed_epoch(epoch, design)
  fail <- function(arg, what) stop("pareto(): ", arg, ": ", what, call. = FALSE)
  if (!is.character(objectives) || anyNA(objectives)) fail("objectives", "names of objectives")
  plan <- c("[pareto]",
            paste0("objectives = ", array_text(vapply(objectives, quoted, ""))),
            paste0("points = ", number_text(points, "points", fail)),
            paste0("signs = ", quoted(signs)),
            paste0("uncertainty = ", quoted(uncertainty)),
            paste0("samples = ", number_text(samples, "samples", fail)))
  if (!is.null(free)) {
    if (!is.list(free)) fail("free", "a list of predictor names per stage")
    rows <- vapply(free, function(f) array_text(vapply(as.character(f), quoted, "")), "")
    plan <- c(plan, paste0("free = ", array_text(rows)))
  }
  if (!is.null(constraints)) {
    if (!is.character(constraints) || anyNA(constraints)) fail("constraints", "a character vector")
    plan <- c(plan, paste0("constraints = ", array_text(vapply(constraints, quoted, ""))))
  }
  if (!is.null(retention)) {
    if (!is.list(retention) && !is.numeric(retention)) fail("retention", "a rate or a range per stage")
    rates <- vapply(seq_along(retention), function(s) {
      r <- retention[[s]]
      arg <- sprintf("retention[[%d]]", s)
      if (!is.null(names(r))) {
        if (!setequal(names(r), c("low", "high"))) fail(arg, "a rate or c(low = , high = )")
        sprintf("{ low = %s, high = %s }", number_text(r[["low"]], arg, fail),
                number_text(r[["high"]], arg, fail))
      } else {
        number_text(r, arg, fail)
      }
    }, "")
    plan <- c(plan, paste0("retention = ", array_text(rates)))
  }
  if (!is.null(structures)) {
    layouts <- if (identical(structures, "all")) quoted("all") else {
      if (!is.list(structures)) fail("structures", "\"all\" or a list of layouts")
      array_text(vapply(seq_along(structures), function(i) {
        s <- structures[[i]]
        if (!is.list(s)) fail(sprintf("structures[[%d]]", i), "a list of predictor names per stage")
        array_text(vapply(s, function(g) array_text(vapply(as.character(g), quoted, "")), ""))
      }, ""))
    }
    plan <- c(plan, paste0("structures = ", layouts))
  }
  text <- paste0(design_text(design, "pareto()"), paste(plan, collapse = "\n"), "\n")
  if (plan_spreads()) {
    # Each structure's search through the plan's futures, joined here.
    layouts <- engine_call(pareto_layouts_(text), "pareto()")
    layouts <- if (layouts > 0) seq_len(layouts) - 1L else -1L
    parts <- in_pieces(lapply(layouts, function(s) list(text, s, threads, kernel, epoch)),
                       pareto_part_, "pareto()")
    r <- engine_call(pareto_join_(text, parts, threads, kernel, epoch), "pareto()")
  } else {
    r <- engine_call(pareto_(text, threads, kernel, epoch), "pareto()")
  }
  if (!is.null(r$unmet)) {
    message(sprintf("pareto(): no design meets the constraints; the nearest is '%s', where the nearest design reaches %.4f",
                    r$unmet$constraint, r$unmet$value))
  }
  front <- as.data.frame(r$front, check.names = FALSE)
  front$point <- as.integer(front$point)
  objective_columns <- names(front)[seq_along(objectives) + 1L + ("structure" %in% names(front))]
  structure(list(front = front,
                 design_point = stats::setNames(r$design, objective_columns),
                 evaluations = r$evaluations, objectives = objectives, design = design,
                 page = r$page, made_by = made_by(call, epoch)),
            class = "selquant_front")
}

#' @export
print.selquant_front <- function(x, ...) {
  cat(sprintf("<selquant front: %d points, %s; %s evaluations of the design>\n", nrow(x$front),
              paste(x$objectives, collapse = " against "), format(x$evaluations, big.mark = ",")))
  # Four decimals, as the program's table: weights of 1e-17 are 0 to the eye.
  shown <- x$front
  for (k in names(shown)) if (is.double(shown[[k]])) shown[[k]] <- round(shown[[k]], 4)
  print(shown, row.names = FALSE)
  cat("the design's own weights: ",
      paste(names(x$design_point), format(x$design_point, digits = 4), sep = " = ", collapse = ", "),
      "\n", sep = "")
  invisible(x)
}

#' @export
as.data.frame.selquant_front <- function(x, ...) x$front

#' Plot a Pareto front
#'
#' The first objective against each of the others, the design's own point
#' marked, the 0.8 line on a Cum. AI axis and, for uncertain inputs, the 5th
#' to 95th percentile bands; then per stage whose weights are searched the
#' weights of every point as a stacked bar (negative weights below the zero
#' line), as in the program's figure.
#'
#' @param x A `selquant_front`.
#' @param ... Passed to [graphics::plot()].
#' @return `x`, invisibly.
#' @examples
#' d <- read_design(system.file("extdata", "bobko_two_stage.toml", package = "selquant"))
#' plot(pareto(d, c("quality", "ai:minority"), points = 5, threads = 1, epoch = 0))
#' @export
plot.selquant_front <- function(x, ...) {
  f <- x$front
  cols <- names(x$design_point)
  others <- cols[-1]
  predictors <- x$design$predictors
  stages <- seq_len(nrow(x$design$stages))
  weights <- lapply(stages, function(s) as.matrix(f[paste0("w", s, "_", predictors)]))
  varied <- stages[vapply(weights, function(w) any(apply(w, 2, function(v) diff(range(v)) > 0)), NA)]
  old <- graphics::par(mfrow = c(1L, max(1L, length(others) + length(varied))))
  on.exit(graphics::par(old))
  for (o in others) {
    xs <- c(f[[o]], x$design_point[[o]], if (startsWith(o, "ai_")) 0.8)
    ys <- c(f[[cols[1]]], x$design_point[[cols[1]]])
    if (paste0(o, "_p5") %in% names(f)) xs <- c(xs, f[[paste0(o, "_p5")]], f[[paste0(o, "_p95")]])
    if (paste0(cols[1], "_p5") %in% names(f)) {
      ys <- c(ys, f[[paste0(cols[1], "_p5")]], f[[paste0(cols[1], "_p95")]])
    }
    graphics::plot(f[[o]], f[[cols[1]]], type = "b", pch = 19, xlim = range(xs, na.rm = TRUE),
                   ylim = range(ys, na.rm = TRUE), xlab = o, ylab = cols[1],
                   main = paste(cols[1], "against", o), ...)
    if (paste0(o, "_p5") %in% names(f)) {
      graphics::segments(f[[paste0(o, "_p5")]], f[[cols[1]]], f[[paste0(o, "_p95")]], f[[cols[1]]],
                         col = "grey60")
    }
    if (paste0(cols[1], "_p5") %in% names(f)) {
      graphics::segments(f[[o]], f[[paste0(cols[1], "_p5")]], f[[o]], f[[paste0(cols[1], "_p95")]],
                         col = "grey60")
    }
    graphics::points(x$design_point[[o]], x$design_point[[cols[1]]], pch = 8, cex = 1.5, col = "firebrick")
    if (startsWith(o, "ai_")) graphics::abline(v = 0.8, lty = 3, col = "firebrick")
  }
  fills <- grDevices::hcl.colors(max(2L, length(predictors)), "Dark 3")
  for (s in varied) {
    w <- weights[[s]]
    graphics::plot(NA, xlim = c(0.5, nrow(w) + 0.5), ylim = c(min(0, rowSums(pmin(w, 0))), 1),
                   xlab = "point", ylab = "weight", main = paste("Weights of stage", s))
    for (i in seq_len(nrow(w))) {
      up <- 0
      down <- 0
      for (j in seq_along(predictors)) {
        v <- w[i, j]
        if (v > 0) {
          graphics::rect(i - 0.4, up, i + 0.4, up + v, col = fills[j], border = NA)
          up <- up + v
        } else if (v < 0) {
          graphics::rect(i - 0.4, down + v, i + 0.4, down, col = fills[j], border = NA)
          down <- down + v
        }
      }
    }
    graphics::abline(h = 0)
    graphics::legend("topright", legend = predictors, fill = fills[seq_along(predictors)],
                     bty = "n", cex = 0.8)
  }
  invisible(x)
}
