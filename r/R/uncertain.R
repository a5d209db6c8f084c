#' An uncertain input
#'
#' An effect size, correlation or validity known only within a range, or as a
#' normal distribution. `low` and `high` (rectangular sampling) or `mean` and
#' `sd` (normal sampling) are numbers, named vectors or matrices of the same
#' shape: every element is one uncertain value.
#'
#' @param low,high The bounds of a uniform distribution.
#' @param mean,sd The mean and standard deviation of a normal distribution.
#' @return An object of class `selquant_uncertain`.
#' @examples
#' uncertain(low = -0.5, high = -0.3)
#' uncertain(mean = c(cognitive = 0.5, interview = 0.3), sd = c(0.05, 0.05))
#' @export
uncertain <- function(low = NULL, high = NULL, mean = NULL, sd = NULL) {
  range <- !is.null(low) || !is.null(high)
  normal <- !is.null(mean) || !is.null(sd)
  if (range == normal) {
    stop("uncertain(): give low and high, or mean and sd", call. = FALSE)
  }
  a <- if (range) low else mean
  b <- if (range) high else sd
  keys <- if (range) c("low", "high") else c("mean", "sd")
  if (is.null(a) || is.null(b)) {
    stop(sprintf("uncertain(): %s needs %s", keys[if (is.null(a)) 2 else 1],
                 keys[if (is.null(a)) 1 else 2]), call. = FALSE)
  }
  if (!is.numeric(a) || !is.numeric(b) || length(a) != length(b) ||
      !identical(dim(a), dim(b))) {
    stop(sprintf("uncertain(): %s and %s must be numbers of the same shape",
                 keys[1], keys[2]), call. = FALSE)
  }
  if (is.null(names(b))) names(b) <- names(a)
  if (is.matrix(a) && is.null(dimnames(b))) dimnames(b) <- dimnames(a)
  structure(stats::setNames(list(a, b), keys), class = "selquant_uncertain")
}

#' @export
print.selquant_uncertain <- function(x, ...) {
  keys <- names(unclass(x))
  cat(sprintf("<uncertain: %s, %s>\n", keys[1], keys[2]))
  for (k in keys) {
    cat(k, ":\n", sep = "")
    print(unclass(x)[[k]], ...)
  }
  invisible(x)
}

# An uncertain value's two parts, whatever its form: a plain number is both.
parts <- function(x) {
  if (inherits(x, "selquant_uncertain")) unname(unclass(x)) else list(x, x)
}
