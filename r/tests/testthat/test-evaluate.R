test_that("a run equals the program's CSV files to the last bit, on 1 and 2 threads", {
  d <- read_design(example("two_stage_design.toml"))
  for (threads in 1:2) {
    res <- evaluate(d, threads = threads, epoch = cli_epoch, progress = FALSE)
    expect_same_numbers(res$results, "two_stage_design.results.csv")
    expect_same_numbers(res$inputs, "two_stage_design.inputs.csv")
    expect_same_numbers(res$summary, "two_stage_design.summary.csv")
  }
  expect_identical(levels(res$results$group), c("minority", "majority"))
  # What a summary row has no value for is missing, as the CSV leaves it empty.
  expect_true(all(is.na(res$summary$cum_ai[is.na(res$summary$group)])))
  expect_false(any(is.nan(res$summary$quality)))
  # The plot's boxes and whiskers are the summary's percentiles.
  last <- res$results[res$results$stage == 2 & res$results$group == "minority", ]
  p <- res$summary[res$summary$stage == 2 & res$summary$group %in% "minority", ]
  expect_equal(selquant:::report_percentiles(last$cum_ai, c(5, 25, 50, 75, 95)),
               p$cum_ai[match(c("p5", "p25", "p50", "p75", "p95"), p$statistic)],
               tolerance = 1e-6)
  expect_identical(as.data.frame(res), res$results)
})

test_that("a deck read by read_design() gives the program's numbers for the deck", {
  d <- read_design(example("normal_three_stage.deck"))
  expect_identical(d$sampling, "normal")
  res <- evaluate(d, threads = 2, epoch = cli_epoch, progress = FALSE)
  expect_same_numbers(res$results, "normal_three_stage.results.csv")
  expect_same_numbers(res$summary, "normal_three_stage.summary.csv")
  # The largest: every kernel's widest vector path.
  largest <- evaluate(read_design(example("four_stage_five_group.deck")), epoch = cli_epoch,
                      progress = FALSE)
  expect_same_numbers(largest$results, "four_stage_five_group.results.csv")
  exact <- evaluate(read_design(example("exact_two_stage.deck")), kernel = "specified",
                    epoch = cli_epoch, progress = FALSE)
  expect_same_numbers(exact$results, "exact_two_stage.results.csv")
})

test_that("set.seed() makes a run without an epoch reproducible", {
  d <- read_design(example("two_stage_design.toml"))
  d$samples <- 5
  set.seed(7)
  a <- evaluate(d, threads = 1, progress = FALSE)
  set.seed(7)
  b <- evaluate(d, threads = 1, progress = FALSE)
  expect_identical(a$results, b$results)
  expect_identical(a$epoch, b$epoch)
})

test_that("an interrupted run is an interrupt and leaves the session working", {
  d <- read_design(example("four_stage_five_group.deck"))
  d$samples <- 100000
  setTimeLimit(elapsed = 1, transient = TRUE)
  start <- Sys.time()
  # testthat lets interrupts through: a handler of R's own catches it.
  caught <- tryCatch(evaluate(d, threads = 2, kernel = "specified", progress = FALSE),
                     interrupt = function(c) c)
  expect_s3_class(caught, "interrupt")
  expect_match(conditionMessage(caught), "^evaluate\\(\\): interrupted after [0-9]+ of 100000 samples$")
  setTimeLimit(elapsed = Inf)
  expect_lt(as.numeric(Sys.time() - start, units = "secs"), 10)
  d$samples <- 3
  expect_s3_class(evaluate(d, threads = 2, epoch = cli_epoch, progress = FALSE), "selquant_result")
})

test_that("the front equals the program's, and its weights are named by stage and predictor", {
  d <- read_design(example("bobko_two_stage.toml"))
  f <- pareto(d, c("quality", "ai:minority"), points = 11, threads = 2, epoch = cli_epoch)
  expect_same_numbers(f$front, "bobko_two_stage.front.csv")
  expect_true(all(c("w1_CA", "w2_B") %in% names(f$front)))
  expect_error(pareto(d, c("quality", "ai:nobody")), "pareto\\(\\): pareto\\$objectives\\[\\[2\\]\\]")
  # A searched retention rate: the program's front of the same table.
  r <- pareto(d, c("quality", "ai:minority"), points = 11, threads = 2, epoch = cli_epoch,
              retention = list(c(low = 0.15, high = 0.9), 0.1))
  expect_same_numbers(r$front, "bobko_two_stage_retention.front.csv")
  expect_error(pareto(d, c("quality", "ai:minority"), retention = list(c(low = 0.5, high = 1.5), 0.1)),
               "pareto\\(\\): pareto\\$retention\\[\\[1\\]\\]\\$high: must be above 0 and at most 1")
  # Structures, each searched on its own: the program's front of the same table.
  d$costs <- c(CA = 10, SI = 150, C = 8, B = 12)
  s <- pareto(d, c("quality", "ai:minority"), points = 7, threads = 2, epoch = cli_epoch,
              structures = list(list(c("CA", "B"), "SI"), list("B", c("CA", "SI", "C"))))
  expect_same_numbers(s$front, "bobko_two_stage_structures.front.csv")
  expect_setequal(unique(s$front$structure), c("CA+B|SI", "B|CA+SI+C"))
  expect_named(s$design_point, c("quality", "ai_minority"))
  expect_error(pareto(d, c("quality", "ai:minority"), structures = list(list("CA", "GMA"))),
               "pareto\\(\\): pareto\\$structures\\[\\[1\\]\\]\\[\\[2\\]\\]\\[\\[1\\]\\]: no predictor 'GMA'")
})

test_that("pages are the program's but for the call that made them", {
  made <- "<p>Made by <code>[^\n]*</code></p>\n"
  page <- function(path) readChar(path, file.size(path), useBytes = TRUE)
  d <- read_design(example("bobko_two_stage.toml"))
  f <- pareto(d, c("quality", "ai:minority"), points = 11, threads = 2, epoch = cli_epoch)
  res <- evaluate(read_design(example("two_stage_design.toml")), epoch = cli_epoch, progress = FALSE)
  pages <- list()
  for (case in list(list(f, "bobko_two_stage.front.html"), list(res, "two_stage_design.html"))) {
    path <- tempfile(fileext = ".html")
    expect_identical(write_html(case[[1]], path), path)
    mine <- page(path)
    expect_identical(sub(made, "", mine), sub(made, "", page(test_path("cli", case[[2]]))))
    pages <- c(pages, mine)
  }
  expect_match(mine, "Made by <code>evaluate(design = read_design(example(\"two_stage_design.toml\")), epoch = 1772874303, progress = FALSE)</code>",
               fixed = TRUE)
  opened <- NULL
  shown <- browse(f, browser = function(url) opened <<- url)
  expect_identical(opened, shown)
  expect_identical(page(shown), pages[[1]])
  expect_error(write_html(d, path), "write_html\\(\\): x must be a pareto\\(\\) front or an evaluate\\(\\) result")
  expect_error(write_html(f, file.path(tempfile(), "none", "f.html")), "could not be written")
})

test_that("chunks, structures and a sweep through a multisession plan give the sequential numbers", {
  skip_if_not_installed("future.apply")
  d <- read_design(example("two_stage_design.toml"))
  d$samples <- 120
  serial <- evaluate(d, epoch = cli_epoch, progress = FALSE)
  b <- read_design(example("bobko_two_stage.toml"))
  b$costs <- c(CA = 10, SI = 150, C = 8, B = 12)
  layouts <- list(list(c("CA", "B"), "SI"), list("B", c("CA", "SI", "C")))
  front <- pareto(b, c("quality", "ai:minority", "cost"), points = 4, structures = layouts,
                  epoch = cli_epoch)
  values <- list("stage[1].retention" = c(0.3, 0.6), "group[1].proportion" = c(0.2, 0.4))
  d$samples <- 20
  swept <- sweep(d, values, epoch = cli_epoch)
  old <- future::plan(future::multisession, workers = 2)
  on.exit(future::plan(old), add = TRUE)
  d$samples <- 120
  chunked <- evaluate(d, epoch = cli_epoch, progress = FALSE, chunks = 7)
  for (k in c("results", "inputs", "summary")) expect_identical(chunked[[k]], serial[[k]], label = k)
  expect_identical(chunked$page, serial$page)
  # Equal chunks, one starting at the second of two skipped samples.
  skipping <- tempfile(fileext = ".toml")
  writeLines(c('sampling = "rectangular"', "samples = 300", 'predictors = ["a", "b", "c"]',
               'criteria = ["performance"]', "criterion_weights = [1]",
               "[[stage]]", "retention = 0.5", "weights = [1, 1, 0]",
               "[[stage]]", "retention = 0.2", "weights = [1, 1, 1]",
               "[[group]]", 'name = "minority"', "proportion = 0.3",
               "predictor_d = [{ low = -0.8, high = -0.4 }, -0.2, -0.1]",
               "[[group]]", 'name = "majority"', "proportion = 0.7", "[correlations]",
               "predictors = [[{ low = 0.5, high = 0.9 }], [{ low = 0.5, high = 0.9 }, { low = -0.3, high = 0.2 }]]",
               "validities = [[0.3, 0.3, 0.2]]"), skipping)
  s <- read_design(skipping)
  whole <- evaluate(s, epoch = cli_epoch, progress = FALSE)
  valid <- whole$inputs$valid
  pairs <- which(!valid[-length(valid)] & !valid[-1])
  size <- c(60, 50, 30, 25, 20, 15, 12, 10, 6, 5, 4, 3, 2)
  fits <- outer(pairs, size, function(k, n) k %% n == 0)
  size <- size[which(colSums(fits) > 0)[1]]
  parts <- evaluate(s, epoch = cli_epoch, progress = FALSE, chunks = 300 / size)
  for (k in c("results", "inputs", "summary")) expect_identical(parts[[k]], whole[[k]], label = k)
  spread <- pareto(b, c("quality", "ai:minority", "cost"), points = 4, structures = layouts,
                   epoch = cli_epoch)
  expect_identical(spread$front, front$front)
  expect_identical(spread$evaluations, front$evaluations)
  d$samples <- 20
  expect_identical(sweep(d, values, epoch = cli_epoch), swept)
  # A block per design, the first key's values varying slowest.
  block <- nrow(swept) / 4
  expect_identical(swept[["stage[1].retention"]], rep(c(0.3, 0.6), each = 2 * block))
  expect_identical(swept[["group[1].proportion"]], rep(rep(c(0.2, 0.4), each = block), 2))
  d$stages$retention[1] <- 0.6
  d$groups[[1]]$proportion <- 0.4
  last <- swept[(3 * block + 1):(4 * block), -(1:2)]
  rownames(last) <- NULL
  expect_identical(last, evaluate(d, epoch = cli_epoch, progress = FALSE)$summary)
  # An element of an uncertain vector made exact: Python's sweep of the same key.
  one <- sweep(d, list("group[1].predictor_d.cognitive" = -0.7), threads = 1, epoch = cli_epoch)
  e <- d
  e$groups[[1]]$predictor_d$low[["cognitive"]] <- -0.7
  e$groups[[1]]$predictor_d$high[["cognitive"]] <- -0.7
  expected <- evaluate(e, threads = 1, epoch = cli_epoch, progress = FALSE)$summary
  expect_identical(one[, -1], expected)
  expect_error(sweep(d, list("stage[3].retention" = 0.5)),
               "sweep(): stage[3].retention: no such key in the design", fixed = TRUE)
})

test_that("given draws give the program's numbers and errors that say where", {
  d <- read_design(example("bobko_two_stage.toml"))
  draws <- cli_csv("bobko_draws.csv")
  res <- evaluate(d, epoch = cli_epoch, draws = draws, progress = FALSE)
  expect_same_numbers(res$results, "bobko_given.results.csv")
  expect_same_numbers(res$inputs, "bobko_given.inputs.csv")
  expect_same_numbers(res$summary, "bobko_given.summary.csv")
  expect_identical(res$inputs$rpp_1_2, draws$rpp_1_2)
  expect_output(print(res), "given draws, 300 of 300 samples")
  # In chunks, each with its own rows: the same.
  chunked <- evaluate(d, epoch = cli_epoch, draws = draws, chunks = 3, progress = FALSE)
  expect_identical(chunked$results, res$results)
  expect_identical(chunked$summary, res$summary)
  # Shares of a stage sum to 1.
  sums <- tapply(res$results$share, res$results[c("sample", "stage")], sum)
  expect_true(all(abs(sums - 1) < 1e-14))
  bad <- draws
  bad$val_1_3[17] <- -1.5
  expect_error(evaluate(d, draws = bad, progress = FALSE),
               "evaluate(): draws row 17, column val_1_3: the validity -1.5 is outside [-1, 1]",
               fixed = TRUE)
  names(bad)[2] <- "rpp_2_1"
  expect_error(evaluate(d, draws = bad, progress = FALSE),
               "evaluate(): draws, column rpp_2_1: names no input of the design", fixed = TRUE)
  # An uncertain proportion goes through the design and is drawn.
  d$groups$minority$proportion <- uncertain(low = 0.2, high = 0.3)
  d$sampling <- "rectangular"
  d$samples <- 200
  u <- evaluate(d, epoch = cli_epoch, progress = FALSE)
  expect_true(all(u$inputs$prop_1 >= 0.2 & u$inputs$prop_1 <= 0.3))
  expect_gt(diff(range(u$inputs$prop_1)), 0.09)
  expect_identical(u$inputs$prop_2, 1 - u$inputs$prop_1)
})
