#' A front or a run as one HTML page
#'
#' `write_html()` writes the page the program's `--html` writes, one file
#' that needs nothing outside itself: for a [pareto()] front every pair of
#' objectives as a scatter plot, a bound on every objective, a table of the
#' points, a pinned point's weights and stage-by-stage outcomes, and the
#' table as CSV; for an [evaluate()] result per stage the distribution of the
#' quality of all selected and of every group's Cum. AI, and the summary.
#' `browse()` writes it to a temporary file and opens it in the browser.
#'
#' @param x A `selquant_front` or a `selquant_result`.
#' @param path The file to write, whole or not at all.
#' @param browser Passed to [utils::browseURL()].
#' @return `write_html()`: `path`, invisibly; `browse()`: the temporary
#'   file's path, invisibly.
#' @examples
#' f <- pareto(read_design(system.file("extdata", "bobko_two_stage.toml",
#'   package = "selquant")), c("quality", "ai:minority"), points = 5, epoch = 1)
#' path <- write_html(f, tempfile(fileext = ".html"))
#' @export
write_html <- function(x, path) {
  kind <- page_kind(x, "write_html()")
  if (!is.character(path) || length(path) != 1L || is.na(path)) {
    stop("write_html(): path must be one file name", call. = FALSE)
  }
  text <- page_(kind, x$page, x$made_by)
  # Into a file beside path, then renamed over it.
  temporary <- tempfile(".selquant-", tmpdir = dirname(path), fileext = ".html")
  written <- tryCatch({
    writeBin(charToRaw(enc2utf8(text)), temporary)
    file.rename(temporary, path)
  }, error = function(e) FALSE, warning = function(w) FALSE)
  if (!isTRUE(written)) {
    unlink(temporary)
    stop(sprintf("write_html(): '%s' could not be written", path), call. = FALSE)
  }
  invisible(path)
}

#' @rdname write_html
#' @export
browse <- function(x, browser = getOption("browser")) {
  page_kind(x, "browse()")
  path <- write_html(x, tempfile("selquant-", fileext = ".html"))
  utils::browseURL(path, browser = browser)
  invisible(path)
}

page_kind <- function(x, caller) {
  if (inherits(x, "selquant_front")) return("front")
  if (inherits(x, "selquant_result")) return("run")
  stop(caller, ": x must be a pareto() front or an evaluate() result", call. = FALSE)
}

# The call that made a result, as its page shows it, with the clock reading
# it was seeded with.
made_by <- function(call, epoch) {
  call$epoch <- epoch
  paste(deparse(call, width.cutoff = 500L), collapse = " ")
}
