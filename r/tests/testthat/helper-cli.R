# The command-line program's CSV files of the bundled examples (written by
# tools/r_package.sh with the program itself), every number read by correct
# rounding.
cli_epoch <- 1772874303

cli_csv <- function(name) {
  t <- utils::read.csv(test_path("cli", name), colClasses = "character", check.names = FALSE)
  for (k in setdiff(names(t), c("statistic", "structure"))) t[[k]] <- selquant:::parse_doubles_(t[[k]])
  t
}

example <- function(name) system.file("extdata", name, package = "selquant")

# A data frame of the package as the CSV holds it: factors as their codes.
as_numbers <- function(df) {
  for (k in names(df)) {
    if (is.factor(df[[k]]) && k != "statistic") df[[k]] <- as.numeric(as.integer(df[[k]]))
    else if (k %in% c("statistic", "structure")) df[[k]] <- as.character(df[[k]])
    else df[[k]] <- as.numeric(df[[k]])
  }
  df
}

expect_same_numbers <- function(object, csv) {
  expected <- cli_csv(csv)
  object <- as_numbers(object)
  expect_identical(names(object), names(expected))
  for (k in names(expected)) expect_identical(object[[k]], expected[[k]], label = k)
}
