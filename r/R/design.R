#' A selection design
#'
#' Builds a design from named arguments that mirror the keys of a design
#' file: the predictors and criteria, the stages with their retention rates
#' and predictor weights, the applicant groups with their effect sizes, and
#' the correlations. Every effect size, correlation and validity is a number,
#' or an [uncertain()] value drawn anew for every sample.
#'
#' Values given per predictor, criterion or group are named vectors (by name;
#' names not given keep their default of 0) or unnamed vectors of the full
#' length in the design's order. Matrices with dimnames are taken by their
#' names; without, in the design's order.
#'
#' @param predictors Names of the predictors (1 to 10).
#' @param criteria Names of the criteria (1 to 3).
#' @param criterion_weights The weight of every criterion in the composite.
#' @param stages The stages in order: a data frame with a column `retention`
#'   (the share of the pool still in after the stage, cumulative) and one
#'   column of weights per predictor (missing ones weigh 0); or a list of
#'   lists with `retention` and `weights`.
#' @param groups The applicant groups, the base group last: a list of lists
#'   with `name` (or the list's names), `proportion`, `criterion_d` and
#'   `predictor_d` (effect sizes: this group's mean minus the base group's, in
#'   within-group standard deviations, negative where the group scores lower; 0
#'   where not given). The proportion of a group other than the base group may be
#'   `uncertain()`, drawn every sample; the base group takes the rest.
#' @param correlations A list of `predictors` (predictor intercorrelations),
#'   `criteria` (criterion intercorrelations) and `validities` (criteria by
#'   predictors): full symmetric matrices, or uncertain ones.
#' @param sampling `"exact"`, `"normal"` or `"rectangular"`; by default the
#'   forms of the uncertain values decide.
#' @param costs Optional: per predictor the cost of assessing one applicant
#'   with it (a named vector; predictors left out cost 0), for the search's
#'   `"cost"` and `"utility"`.
#' @param utility Optional: `list(applicants = , sdy = )`, the applicants
#'   assessed at stage 1 and the standard deviation of the criterion in money.
#' @param samples Monte Carlo samples (1 to 100000).
#' @param epoch Optional clock reading (seconds since 1970) that seeds the
#'   sampling.
#' @return An object of class `selquant_design`.
#' @examples
#' d <- design(
#'   predictors = c("cognitive", "interview"),
#'   criteria = "performance",
#'   stages = data.frame(retention = c(0.5, 0.2), cognitive = 1, interview = c(0, 1)),
#'   groups = list(
#'     minority = list(proportion = 0.3, predictor_d = c(cognitive = -0.8, interview = -0.3)),
#'     majority = list(proportion = 0.7)
#'   ),
#'   correlations = list(predictors = matrix(c(1, 0.3, 0.3, 1), 2),
#'                       validities = c(cognitive = 0.5, interview = 0.4))
#' )
#' d
#' @export
design <- function(predictors, criteria = "criterion", criterion_weights = 1, stages, groups,
                   correlations = list(), sampling = NULL, samples = 1, epoch = NULL,
                   costs = NULL, utility = NULL) {
  as_design(list(sampling = sampling, samples = samples, epoch = epoch,
                 predictors = predictors, criteria = criteria,
                 criterion_weights = criterion_weights, costs = costs, utility = utility,
                 stages = stages, groups = groups, correlations = correlations), "design()")
}

#' Read a design file or a deck
#'
#' @param path A design file (TOML) or a deck, told apart by their content.
#' @return A `selquant_design`; its findings (the checks a careful user
#'   wants to know of before many samples are spent) are kept with it and
#'   shown by `print`.
#' @examples
#' d <- read_design(system.file("extdata", "two_stage_design.toml", package = "selquant"))
#' d
#' @export
read_design <- function(path) {
  if (!is.character(path) || length(path) != 1L || is.na(path)) {
    stop("read_design(): path must be one file name", call. = FALSE)
  }
  r <- tryCatch(design_from_file_(path.expand(path)),
                error = function(e) stop(conditionMessage(e), call. = FALSE))
  dress(r$design, r$findings)
}

#' Write a design file
#'
#' Writes the design as a design file: whole or not at all (a temporary file
#' beside it is renamed into place).
#'
#' @param design A `selquant_design`.
#' @param path The file to write.
#' @param format `"toml"` for a design file, `"deck"` for the program's deck.
#' @return `path`, invisibly.
#' @examples
#' d <- read_design(system.file("extdata", "two_stage_design.toml", package = "selquant"))
#' f <- tempfile(fileext = ".toml")
#' write_design(d, f)
#' identical(read_design(f), d)
#' @export
write_design <- function(design, path, format = c("toml", "deck")) {
  format <- match.arg(format)
  text <- design_text(design, "write_design()")
  out <- if (format == "toml") design_file_(text) else design_deck_(text)
  tmp <- tempfile(".selquant-", tmpdir = dirname(path))
  on.exit(unlink(tmp))
  con <- file(tmp, "wb")
  ok <- tryCatch({
    writeChar(out, con, eos = NULL, useBytes = TRUE)
    TRUE
  }, finally = close(con))
  if (!ok || !file.rename(tmp, path)) {
    stop(sprintf("write_design(): cannot write '%s'", path), call. = FALSE)
  }
  invisible(path)
}

#' @export
print.selquant_design <- function(x, ...) {
  cat(sprintf("<selquant design: %d predictor%s, %d criteri%s, %d stage%s, %d group%s; %s, %d sample%s>\n",
              length(x$predictors), plural(x$predictors), length(x$criteria),
              if (length(x$criteria) == 1) "on" else "a", nrow(x$stages), plural(x$stages$retention),
              length(x$groups), plural(x$groups), x$sampling, x$samples, plural(seq_len(x$samples))))
  if (length(x$criteria) > 1) {
    cat("criterion weights: ", paste(names(x$criterion_weights), x$criterion_weights,
                                    collapse = ", "), "\n", sep = "")
  }
  cat("stages:\n")
  print(x$stages, row.names = FALSE)
  cat("groups (effect sizes other than 0):\n")
  for (g in x$groups) {
    d <- c(cells(g$criterion_d), cells(g$predictor_d))
    d <- d[d != "0"]
    cat(sprintf("  %s: proportion %s%s\n", g$name, unname(cells(g$proportion)),
                if (length(d)) paste0("; ", paste(names(d), d, collapse = ", ")) else ""))
  }
  for (k in c("predictors", "criteria", "validities")) {
    m <- x$correlations[[k]]
    if (length(parts(m)[[1]]) <= 1L) next
    cat("correlations$", k, ":\n", sep = "")
    print(cells(m), quote = FALSE, right = TRUE)
  }
  if (length(x$costs)) {
    cat("costs per applicant: ", paste(names(x$costs), x$costs, collapse = ", "), "\n", sep = "")
  }
  if (!is.null(x$utility)) {
    cat(sprintf("utility: %s applicants, sdy %s\n", format(x$utility$applicants),
                format(x$utility$sdy)))
  }
  f <- attr(x, "findings")
  if (length(f)) cat("findings:\n", paste0("  ", f, "\n"), sep = "")
  invisible(x)
}

# Every element as text: a number, "low..high" or "mean+-sd"; names and dims kept.
cells <- function(v) {
  p <- parts(v)
  out <- format(p[[1]], trim = TRUE, digits = 7)
  if (inherits(v, "selquant_uncertain")) {
    range <- names(unclass(v))[1] == "low"
    sep <- if (range) ".." else "+-"
    varies <- if (range) p[[1]] != p[[2]] else p[[2]] != 0
    out[varies] <- paste0(format(p[[1]][varies], trim = TRUE, digits = 7), sep,
                          format(p[[2]][varies], trim = TRUE, digits = 7))
  }
  attributes(out) <- attributes(p[[1]])
  out
}

plural <- function(v) if (length(v) == 1L) "" else "s"

# ---- from the engine's plain values to a design ------------------------------

# The design of the engine's plain values, with the findings of its checks
# (of the file it was read from, where there was one: a deck's say what its
# reader noticed).
dress <- function(r, findings = NULL) {
  sampling <- r$sampling
  value <- function(pair, names = NULL, dimnames = NULL) {
    a <- pair$first
    b <- pair$second
    if (!is.null(dimnames)) dimnames(a) <- dimnames(b) <- dimnames
    if (!is.null(names)) names(a) <- names(b) <- names
    switch(sampling,
           exact = a,
           rectangular = uncertain(low = a, high = b),
           normal = uncertain(mean = a, sd = b))
  }
  stages <- data.frame(retention = r$retention, r$weights, check.names = FALSE)
  names(stages) <- c("retention", r$predictors)
  groups <- lapply(r$groups, function(g) {
    list(name = g$name,
         proportion = if (is.null(g$proportion_range)) g$proportion else value(g$proportion_range),
         criterion_d = value(g$criterion_d, r$criteria),
         predictor_d = value(g$predictor_d, r$predictors))
  })
  names(groups) <- vapply(r$groups, function(g) g$name, "")
  d <- structure(list(
    sampling = sampling, samples = r$samples, epoch = r$epoch,
    predictors = r$predictors, criteria = r$criteria,
    criterion_weights = stats::setNames(r$criterion_weights, r$criteria),
    costs = if (length(r$costs)) stats::setNames(r$costs, r$predictors),
    utility = r$utility,
    stages = stages, groups = groups,
    correlations = list(
      predictors = value(r$predictor_r, dimnames = list(r$predictors, r$predictors)),
      criteria = value(r$criterion_r, dimnames = list(r$criteria, r$criteria)),
      validities = value(r$validities, dimnames = list(r$criteria, r$predictors)))
  ), class = "selquant_design")
  attr(d, "findings") <- if (is.null(findings)) findings_(design_text(d, "design")) else findings
  d
}

# A design from a list of the design's parts, checked by the engine's reader;
# errors name the argument.
as_design <- function(x, caller) {
  text <- design_text(x, caller)  # its errors name the caller already
  dress(engine_call(design_from_text_(text), caller))
}

# Calls the engine with a design text, naming the argument at fault in its
# error: "stage[2].weights.b: ..." becomes "stages[[2]]$weights$b: ...".
engine_call <- function(expr, caller) {
  tryCatch(expr, error = function(e) {
    stop(caller, ": ", argument_path(conditionMessage(e)), call. = FALSE)
  })
}

argument_path <- function(message) {
  m <- regmatches(message, regexec("^([A-Za-z_][^ :]*): (.*)$", message))[[1]]
  if (length(m) == 0L) return(message)
  path <- m[2]
  path <- sub("^stage\\[", "stages[", path)
  path <- sub("^group\\[", "groups[", path)
  # A matrix's entry as a matrix's; the rest are lists.
  if (startsWith(path, "correlations.")) path <- gsub("\\[([0-9]+)\\]\\[([0-9]+)\\]", "[\\1, \\2]", path)
  path <- gsub("\\[([0-9]+)\\]", "[[\\1]]", path)
  path <- gsub(".", "$", path, fixed = TRUE)
  paste0(path, ": ", m[3])
}
