#' Evaluate a design
#'
#' Computes every sample of the design: per stage the cutoff, and per group
#' the share passing, the quality of the selected and the adverse impact; and
#' the summary over the samples (means and, with 100 samples or more, the
#' percentiles). The samples are computed on `threads` threads; the numbers
#' do not depend on their count.
#'
#' The clock reading seeds the sampling. With `epoch = NULL` the design's own
#' epoch is used where it has one, else a reading drawn from R's random
#' number generator, so that `set.seed()` makes a run reproducible. A given
#' `epoch` gives exactly the numbers of the command-line program run with
#' `--epoch` (and the same kernel).
#'
#' An interrupt (Ctrl-C) stops the run within a fraction of a second, as an
#' `interrupt` condition (`tryCatch(..., interrupt = function(c) ...)` sees
#' it). Runs that take more than a few seconds show a progress bar (cli's,
#' where installed).
#'
#' @param design A `selquant_design`.
#' @param threads Threads computing the samples.
#' @param kernel How the 3- and 4-variate normal probabilities are computed:
#'   `"fast"`, or `"specified"`, the nested adaptive integrations of the
#'   program's method (slower; equal to 1e-11).
#' @param epoch The clock reading (whole seconds since 1970) that seeds the
#'   sampling, or `NULL`.
#' @param progress Whether to show a progress bar for a long run, or a
#'   function of `done` and `total` samples called as they are done.
#' @param draws The samples given instead of drawn: a data frame with one row
#'   per sample and columns named as those of a result's `inputs` (`prop_G`,
#'   `dc_G_C`, `dp_G_P`, `rcc_I_J`, `rpp_I_J`, `val_C_P`; `sample` and `valid`
#'   are taken and not used), such as posterior draws of a meta-analysis.
#'   Each row is one sample, computed as a drawn one; an input it leaves out
#'   keeps the design's expected value (the mean, or the midpoint of the
#'   bounds). A column that names no input, a value that is not a number, a
#'   correlation outside \[-1, 1\] or proportions that do not sum to 1 are
#'   errors naming the row and the column. `NULL`: the design's sampling.
#' @param chunks The samples split into that many contiguous chunks, run
#'   through the active `future::plan()` (sequential, `multisession`, a
#'   cluster; one after another where the future.apply package is not
#'   installed). Each chunk draws the samples before it again, so that every
#'   sample has the inputs of the whole run; the chunks are joined in order
#'   and summarized once: the same result, bit for bit. `NULL`: one run here.
#' @return An object of class `selquant_result`: `results` (one row per
#'   sample, stage and group, with each group's `share` of those passing and,
#'   where the design has `utility$applicants`, its expected `count`),
#'   `inputs` (one row per sample: the drawn inputs), `summary` (one row per
#'   stage, group and statistic of the quality, `cum_ai` and `stage_ai`;
#'   `group` is `NA` in the rows of all selected), `findings`, `epoch` and
#'   `design`.
#' @examples
#' d <- read_design(system.file("extdata", "two_stage_design.toml", package = "selquant"))
#' d$samples <- 20
#' res <- evaluate(d, threads = 1, epoch = 1772874303)
#' res
#' head(res$results)
#' @export
evaluate <- function(design, threads = 2, kernel = c("fast", "specified"), epoch = NULL,
                     progress = interactive(), chunks = NULL, draws = NULL) {
  call <- match.call()
  if (!inherits(design, "selquant_design")) stop("evaluate(): design must be a design()", call. = FALSE)
  kernel <- match.arg(kernel)
  threads <- whole_number(threads, "threads", 1, 1024)
  epoch <- seed_epoch(epoch, design)
  text <- design_text(design, "evaluate()")
  if (!is.function(progress) && !(is.logical(progress) && length(progress) == 1L && !is.na(progress))) {
    stop("evaluate(): progress must be TRUE, FALSE or a function(done, total)", call. = FALSE)
  }
  bar <- if (isTRUE(progress)) progress_bar() else NULL
  if (!is.null(bar)) on.exit(bar$done(), add = TRUE)
  update <- if (is.function(progress)) progress else bar$update
  given <- draws_columns(draws)
  if (is.null(chunks)) {
    r <- engine_call(evaluate_(text, threads, kernel, epoch, update, given), "evaluate()")
    if (isTRUE(r$interrupted)) interrupted(sprintf("evaluate(): interrupted after %d of %d samples",
                                                   r$done, design$samples))
  } else {
    exact <- identical(design$sampling, "exact") && is.null(given)
    samples <- if (exact) 1L else as.integer(design$samples)
    if (!is.null(given)) samples <- max(1L, nrow(draws))
    chunks <- min(whole_number(chunks, "chunks", 1, 1e9), samples)
    if (exact) {  # one pass, computed once
      r <- in_pieces(list(list(text, threads, kernel, epoch, NULL, NULL)), evaluate_,
                     "evaluate()")[[1]]
    } else {
      bounds <- chunk_bounds(samples, chunks)
      parts <- in_pieces(lapply(seq_len(nrow(bounds)), function(i) {
        rows <- bounds$first[i]:bounds$last[i]  # each chunk takes its own samples' rows
        list(text, bounds$first[i], bounds$last[i], threads, kernel, epoch,
             if (is.null(given)) NULL else lapply(given, `[`, rows))
      }), evaluate_part_, "evaluate()")
      r <- engine_call(evaluate_join_(text, parts, given), "evaluate()")
    }
  }
  groups <- names(design$groups)
  results <- as.data.frame(r$results)
  results$sample <- as.integer(results$sample)
  results$stage <- as.integer(results$stage)
  results$group <- factor(groups[results$group], levels = groups)
  inputs <- as.data.frame(r$inputs)
  inputs$sample <- as.integer(inputs$sample)
  inputs$valid <- inputs$valid == 1
  summary <- as.data.frame(r$summary)
  # What does not apply to a row (a group's quality, the Cum. AI of all
  # selected) is missing, as in the summary CSV, not a computed NaN.
  for (k in c("quality", "cum_ai", "stage_ai")) summary[[k]][is.nan(summary[[k]])] <- NA
  summary$stage <- as.integer(summary$stage)
  summary$group <- factor(ifelse(summary$group == 0, NA, groups[pmax(summary$group, 1)]),
                          levels = groups)
  summary$statistic <- factor(summary$statistic, levels = unique(summary$statistic))
  structure(list(results = results, inputs = inputs, summary = summary,
                 findings = attr(design, "findings"), epoch = epoch,
                 counted = r$counted, not_found = stats::setNames(r$not_found, seq_along(r$not_found)),
                 design = design, page = r$page, made_by = made_by(call, epoch),
                 given = !is.null(given)),
            class = "selquant_result")
}

# Given draws as the engine takes them: a named list of numeric columns (a
# logical one, such as an inputs table's valid, as 0 and 1), or NULL.
draws_columns <- function(draws) {
  if (is.null(draws)) return(NULL)
  if (!is.data.frame(draws)) {
    stop("evaluate(): draws must be a data frame, one row per sample", call. = FALSE)
  }
  lapply(stats::setNames(names(draws), names(draws)), function(k) {
    v <- draws[[k]]
    if (!is.numeric(v) && !is.logical(v)) {
      stop(sprintf("evaluate(): draws, column %s: not numbers", k), call. = FALSE)
    }
    as.double(v)
  })
}

# An interrupt of the engine's work reaches R as an `interrupt` condition,
# for handlers (tryCatch(interrupt = )); unhandled, it ends the call with its
# message, back at the top level.
interrupted <- function(message) {
  stop(structure(class = c("interrupt", "condition"), list(message = message, call = NULL)))
}

whole_number <- function(v, arg, lo, hi) {
  if (!is.numeric(v) || length(v) != 1L || is.na(v) || v != round(v) || v < lo || v > hi) {
    stop(sprintf("%s must be a whole number from %s to %s", arg, format(lo), format(hi)), call. = FALSE)
  }
  as.integer(v)
}

# The clock reading of a run: the argument, the design's own, or one drawn
# from R's generator (any day in the program's range of years).
seed_epoch <- function(epoch, design) {
  if (!is.null(epoch)) {
    if (!is.numeric(epoch) || length(epoch) != 1L || is.na(epoch) || epoch != round(epoch) ||
        epoch < -62135596800 || epoch > 253402300799) {
      stop("epoch must be whole seconds since 1970 (years 1 to 9999)", call. = FALSE)
    }
    return(epoch)
  }
  if (!is.null(design$epoch)) return(design$epoch)
  floor(stats::runif(1L, 0, 4102444800))
}

# A progress bar shown once a run has taken a few seconds: cli's where
# installed, else a line of text.
progress_bar <- function() {
  start <- Sys.time()
  id <- NULL
  shown <- FALSE
  use_cli <- requireNamespace("cli", quietly = TRUE)
  update <- function(done, total) {
    if (!shown && as.numeric(Sys.time() - start, units = "secs") < 2) return(invisible())
    shown <<- TRUE
    if (use_cli) {
      if (is.null(id)) id <<- cli::cli_progress_bar("Evaluating", total = total, .envir = globalenv())
      cli::cli_progress_update(set = done, id = id, .envir = globalenv())
    } else {
      cat(sprintf("\r%d of %d samples", done, total), file = stderr())
    }
    invisible()
  }
  done <- function() {
    if (!shown) return(invisible())
    if (use_cli && !is.null(id)) cli::cli_progress_done(id = id, .envir = globalenv())
    if (!use_cli) cat("\n", file = stderr())
  }
  list(update = update, done = done)
}

#' @export
print.selquant_result <- function(x, ...) {
  d <- x$design
  n <- nrow(x$inputs)
  cat(sprintf("<selquant result: %s, %d of %d sample%s computed, epoch %s>\n",
              if (isTRUE(x$given)) "given draws" else d$sampling,
              x$counted, n, plural(seq_len(n)), format(x$epoch, scientific = FALSE)))
  print(overview(x), row.names = FALSE, digits = 4)
  if (length(x$findings)) cat("findings:\n", paste0("  ", x$findings, "\n"), sep = "")
  lost <- x$not_found[x$not_found > 0]
  for (s in names(lost)) {
    cat(sprintf("the cutoff of stage %s was not found in %d samples\n", s, lost[[s]]))
  }
  invisible(x)
}

# Per stage the mean quality of all selected and every group's mean Cum. AI.
overview <- function(x) {
  s <- x$summary[x$summary$statistic == "mean", ]
  if (!nrow(s)) return(data.frame())
  stages <- sort(unique(s$stage))
  out <- data.frame(stage = stages,
                    quality = s$quality[is.na(s$group)][match(stages, s$stage[is.na(s$group)])])
  for (g in levels(s$group)) {
    rows <- s[!is.na(s$group) & s$group == g, ]
    out[[paste0("cum_ai_", g)]] <- rows$cum_ai[match(stages, rows$stage)]
  }
  out
}

#' @export
summary.selquant_result <- function(object, ...) {
  structure(list(overview = overview(object), summary = object$summary,
                 counted = object$counted, samples = nrow(object$inputs)),
            class = "summary.selquant_result")
}

#' @export
print.summary.selquant_result <- function(x, ...) {
  cat(sprintf("%d of %d samples in the summary\n", x$counted, x$samples))
  cat("means per stage (quality of all selected, Cum. AI of every group):\n")
  print(x$overview, row.names = FALSE, digits = 4)
  p <- x$summary[x$summary$statistic %in% c("p5", "p50", "p95"), ]
  if (nrow(p)) {
    cat("percentiles of the last stage:\n")
    last <- p[p$stage == max(p$stage), ]
    wide <- data.frame(group = ifelse(is.na(last$group), "(all: quality)", as.character(last$group)),
                       statistic = last$statistic,
                       value = ifelse(is.na(last$group), last$quality, last$cum_ai))
    print(stats::reshape(wide, idvar = "group", timevar = "statistic", direction = "wide"),
          row.names = FALSE, digits = 4)
  }
  invisible(x)
}

#' @export
as.data.frame.selquant_result <- function(x, ...) x$results
