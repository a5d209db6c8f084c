three_groups <- function(...) {
  args <- list(
    predictors = c("cognitive", "interview"),
    criteria = "performance",
    stages = data.frame(retention = c(0.5, 0.2), cognitive = 1, interview = c(0, 1)),
    groups = list(
      black = list(proportion = 0.15,
                   predictor_d = uncertain(low = c(cognitive = -1.1, interview = -0.4),
                                           high = c(-0.9, -0.2))),
      hispanic = list(proportion = 0.15, predictor_d = c(cognitive = -0.7)),
      white = list(proportion = 0.7)
    ),
    correlations = list(
      predictors = matrix(c(1, 0.3, 0.3, 1), 2, dimnames = list(c("interview", "cognitive"),
                                                                 c("interview", "cognitive"))),
      validities = uncertain(low = c(cognitive = 0.4, interview = 0.3), high = c(0.6, 0.4))
    ),
    samples = 10
  )
  args[names(list(...))] <- list(...)
  do.call(design, args)
}

test_that("design() -> write_design() -> read_design() gives the same design", {
  d <- three_groups()
  expect_identical(d$sampling, "rectangular")
  expect_identical(names(d$groups), c("black", "hispanic", "white"))
  expect_identical(d$groups$hispanic$predictor_d, uncertain(low = c(cognitive = -0.7, interview = 0),
                                                            high = c(-0.7, 0)))
  for (format in c("toml", "deck")) {
    f <- tempfile()
    write_design(d, f, format)
    back <- read_design(f)
    if (format == "deck") {
      expect_identical(back$stages$retention, d$stages$retention)
    } else {
      expect_identical(back, d)
    }
  }
  # The deck has no names: the same numbers.
  expect_identical(as_numbers(evaluate(d, threads = 1, epoch = 1, progress = FALSE)$results),
                   as_numbers(evaluate(back, threads = 1, epoch = 1, progress = FALSE)$results))
})

test_that("bad arguments are errors naming the argument", {
  validities <- c(cognitive = 0.5, interview = 0.4)
  expect_error(three_groups(correlations = list(predictors = matrix(c(1, 0.3, 0.2, 1), 2),
                                                validities = validities)),
               "design\\(\\): correlations\\$predictors\\[1, 2\\]: the matrix is not symmetric")
  expect_error(three_groups(stages = list(list(retention = 0.5, weights = c(cognitiv = 1)))),
               "design\\(\\): stages\\[\\[1\\]\\]\\$weights\\$cognitiv: no predictor 'cognitiv'; did you mean 'cognitive'\\?")
  expect_error(three_groups(groups = list(a = list(proportion = 0.5,
                                                   predictor_d = uncertain(low = c(cognitive = 0.5),
                                                                           high = 0.3)),
                                          b = list(proportion = 0.5))),
               "design\\(\\): groups\\[\\[1\\]\\]\\$predictor_d\\$cognitive: low 0.5 is above high 0.3")
  named <- matrix(1, 2, 2, dimnames = list(c("a", "b"), c("a", "b")))
  expect_error(three_groups(correlations = list(predictors = named, validities = validities)),
               "design\\(\\): correlations\\$predictors: its row names are not the design's \\(cognitive, interview\\)")
  expect_error(three_groups(samples = "many"), "^design\\(\\): samples: must be one number$")
  # An unknown key at any level, as in a design file.
  expect_error(three_groups(groups = list(m = list(proportion = 0.2, predictr_d = c(-1, -1)),
                                          w = list(proportion = 0.8))),
               "^design\\(\\): groups\\[\\[1\\]\\]\\$predictr_d: unknown key; did you mean 'predictor_d'\\?$")
  expect_error(three_groups(stages = list(list(retention = 0.5, weight = c(cognitive = 1)))),
               "^design\\(\\): stages\\[\\[1\\]\\]\\$weight: unknown key; did you mean 'weights'\\?$")
  expect_error(uncertain(low = 1), "uncertain\\(\\): low needs high")
})

test_that("a deck's findings are those of its reader", {
  f <- tempfile(fileext = ".deck")
  writeLines(c(readLines(example("exact_two_stage.deck")), "0.5 0.5"), f)
  expect_match(attr(read_design(f), "findings"), "follows? the last read", all = FALSE)
})

test_that("a malformed deck names the line and column", {
  f <- tempfile(fileext = ".deck")
  writeLines(c("2 5 1 1 1 2 0.3 0.7", "half"), f)
  expect_error(read_design(f), "deck: line 2, column 1: 'half' is not a number")
})

test_that("costs and utility go through design files, and the front pays where predictors enter", {
  d <- read_design(example("bobko_two_stage.toml"))
  d$costs <- c(CA = 10, SI = 150, C = 8, B = 12)
  d$utility <- list(applicants = 1000, sdy = 40000)
  f <- tempfile(fileext = ".toml")
  write_design(d, f)
  back <- read_design(f)
  expect_identical(back$costs, d$costs)
  expect_identical(back$utility, d$utility)
  front <- pareto(back, c("quality", "cost"), points = 5, threads = 1, epoch = 0,
                  retention = list(c(low = 0.15, high = 0.9), 0.1))$front
  # CA and B screen everyone; SI and C, entering at stage 2, those kept.
  expect_equal(front$cost, 10 + 12 + (150 + 8) * front$r1, tolerance = 1e-12)
  expect_equal(front$utility, 1000 * 0.1 * 40000 * front$quality - 1000 * front$cost,
               tolerance = 1e-12)
  d$utility <- list(applicants = 1000, sd_y = 1)
  expect_error(write_design(d, f), "utility\\.sd_y: unknown key; did you mean 'sdy'\\?")
})

test_that("constraints bound the designs, and a message says where none is left", {
  d <- read_design(example("bobko_two_stage.toml"))
  best <- pareto(d, "quality", constraints = "ai:* >= 0.5", threads = 1, epoch = 0)$front
  expect_identical(nrow(best), 1L)
  expect_gte(best$ai_minority, 0.5)
  expect_message(none <- pareto(d, "quality", constraints = "ai:* >= 0.99", threads = 1, epoch = 0),
                 "no design meets the constraints; the nearest is 'ai:minority >= 0.99'")
  expect_identical(nrow(none$front), 0L)
})
