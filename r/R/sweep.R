#' Evaluate a grid of designs
#'
#' Every combination of the values of some keys of a design is a design; each
#' is evaluated (or, given `pareto`, searched) through the active
#' `future::plan()`, and the summaries (or fronts) are joined into one data
#' frame: a block of rows per design in the order of the grid (the first
#' key's values varying slowest), a column per swept key with its value. All
#' the designs share one clock reading: their differences are the keys', not
#' the draws'.
#'
#' @param design A `selquant_design`.
#' @param values A named list: key paths of the design as its file's messages
#'   name them (`"stage[1].retention"`, `"group[1].predictor_d.cognitive"`,
#'   `"samples"`) and the values each takes.
#' @param pareto `NULL`, or a list of [pareto()]'s arguments (`objectives`,
#'   `points`, ...): the front of every design.
#' @param threads,kernel,epoch As for [evaluate()].
#' @return A data frame.
#' @examples
#' d <- read_design(system.file("extdata", "two_stage_design.toml", package = "selquant"))
#' d$samples <- 20
#' sweep(d, list("stage[1].retention" = c(0.3, 0.6)), threads = 1, epoch = 1772874303)
#' @export
sweep <- function(design, values, pareto = NULL, threads = 2, kernel = c("fast", "specified"),
                  epoch = NULL) {
  if (!inherits(design, "selquant_design")) stop("sweep(): design must be a design()", call. = FALSE)
  if (!is.list(values) || !length(values) || is.null(names(values)) || any(!nzchar(names(values)))) {
    stop("sweep(): values must be a named list of key paths and their values", call. = FALSE)
  }
  kernel <- match.arg(kernel)
  epoch <- seed_epoch(epoch, design)
  grid <- expand.grid(rev(values), KEEP.OUT.ATTRS = FALSE, stringsAsFactors = FALSE)[rev(names(values))]
  designs <- lapply(seq_len(nrow(grid)), function(i) {
    d <- design
    for (key in names(values)) d <- set_key(d, key, grid[[key]][i])
    tryCatch(design_text(d, "sweep()"), error = function(e) {
      stop(sprintf("sweep(): %s: %s", paste(names(values), "=", grid[i, ], collapse = ", "),
                   sub("^sweep\\(\\): ", "", conditionMessage(e))), call. = FALSE)
    })
    d
  })
  one <- function(d) {
    if (is.null(pareto)) {
      evaluate(d, threads = threads, kernel = kernel, epoch = epoch, progress = FALSE)$summary
    } else {
      do.call(selquant::pareto, c(list(d), pareto, threads = threads, kernel = kernel, epoch = epoch))$front
    }
  }
  tables <- in_pieces(lapply(designs, list), one, "sweep()")
  blocks <- lapply(seq_along(tables), function(i) {
    cbind(grid[rep(i, nrow(tables[[i]])), , drop = FALSE], tables[[i]], row.names = NULL)
  })
  out <- do.call(rbind, blocks)
  rownames(out) <- NULL
  out
}

# The design with the value at a key path of its file ("stage[1].retention",
# "group[2].predictor_d.cognitive"); a path that names nothing stops, naming it.
set_key <- function(design, path, value) {
  steps <- regmatches(path, gregexpr("[A-Za-z_][A-Za-z0-9_]*|\\[[0-9]+\\]", path))[[1]]
  if (!length(steps) || paste(steps, collapse = "") != gsub(".", "", path, fixed = TRUE) ||
      startsWith(steps[1], "[")) {
    stop(sprintf("sweep(): %s: not a key path (names and [N], as 'stage[1].retention')", path), call. = FALSE)
  }
  missing <- function() stop(sprintf("sweep(): %s: no such key in the design", path), call. = FALSE)
  index <- function(step) as.integer(substr(step, 2, nchar(step) - 1))
  if (steps[1] == "stage") {
    if (length(steps) < 3 || !startsWith(steps[2], "[")) missing()
    i <- index(steps[2])
    stages <- design$stages
    if (is.data.frame(stages)) {
      column <- if (steps[3] == "weights" && length(steps) == 4) steps[4] else if (length(steps) == 3) steps[3] else ""
      if (!column %in% names(stages) || i < 1 || i > nrow(stages)) missing()
      stages[[column]][i] <- value
      design$stages <- stages
      return(design)
    }
    steps[1] <- "stages"
  }
  if (steps[1] == "group") steps[1] <- "groups"
  put <- function(node, steps) {
    step <- steps[1]
    at <- if (startsWith(step, "[")) index(step) else step
    # An element of an uncertain vector: a number makes it exact.
    if (inherits(node, "selquant_uncertain") && length(steps) == 1 && is.character(at) &&
        at %in% names(node[[1]])) {
      if ("low" %in% names(node)) {
        node$low[[at]] <- value
        node$high[[at]] <- value
      } else {
        node$mean[[at]] <- value
        node$sd[[at]] <- 0
      }
      return(node)
    }
    present <- if (is.numeric(at)) at >= 1 && at <= length(node) else !is.null(names(node)) && at %in% names(node)
    if (!present) missing()
    if (length(steps) == 1) {
      node[[at]] <- value
    } else {
      node[[at]] <- put(node[[at]], steps[-1])
    }
    node
  }
  put(design, steps)
}
