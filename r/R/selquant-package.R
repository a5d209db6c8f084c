#' selquant: quality and adverse impact of multi-stage selection
#'
#' Build a design with [design()] (or read one with [read_design()]),
#' evaluate it with [evaluate()], and search the stage weights that trade the
#' quality of the selected against adverse impact with [pareto()].
#'
#' @keywords internal
#' @useDynLib selquant, .registration = TRUE
"_PACKAGE"
