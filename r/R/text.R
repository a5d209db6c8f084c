# A design's parts as the text of a design file, for the engine's reader,
# which checks them. Only the shapes R alone knows are checked here: a value
# that is not a number, a matrix whose dimnames are not the design's names.

design_text <- function(x, caller) {
  if (!is.list(x)) stop(caller, ": not a design", call. = FALSE)
  fail <- function(arg, what) stop(caller, ": ", arg, ": ", what, call. = FALSE)
  lines <- character()
  emit <- function(...) lines <<- c(lines, paste0(...))

  if (!is.null(x$sampling)) emit("sampling = ", string_text(x$sampling, "sampling", fail))
  emit("samples = ", number_text(x$samples, "samples", fail))
  if (!is.null(x$epoch)) emit("epoch = ", number_text(x$epoch, "epoch", fail))
  predictors <- names_of(x$predictors, "predictors", fail)
  criteria <- names_of(x$criteria, "criteria", fail)
  emit("predictors = ", array_text(vapply(predictors, quoted, "")))
  emit("criteria = ", array_text(vapply(criteria, quoted, "")))
  emit("criterion_weights = ", values_toml(x$criterion_weights, "criterion_weights", fail))
  if (length(x$costs)) emit("costs = ", values_toml(x$costs, "costs", fail))
  if (!is.null(x$utility)) {
    u <- x$utility
    # Every key as given: the engine's reader refuses one it does not know.
    if (!is.list(u) || is.null(names(u)) || any(!nzchar(names(u)))) {
      fail("utility", "list(applicants = , sdy = )")
    }
    emit("utility = { ", paste(vapply(names(u), function(k) {
      paste0(quoted(k), " = ", number_text(u[[k]], paste0("utility$", k), fail))
    }, ""), collapse = ", "), " }")
  }

  stages <- x$stages
  if (is.data.frame(stages)) {
    if (!"retention" %in% names(stages)) fail("stages", "needs a column 'retention'")
    stages <- lapply(seq_len(nrow(stages)), function(i) {
      w <- unlist(stages[i, setdiff(names(stages), "retention"), drop = FALSE])
      list(retention = stages$retention[i], weights = if (length(w)) w else numeric())
    })
  }
  if (!is.list(stages) || !length(stages)) fail("stages", "a data frame or a list of stages")
  for (i in seq_along(stages)) {
    s <- stages[[i]]
    arg <- sprintf("stages[[%d]]", i)
    if (!is.list(s)) fail(arg, "a list of retention and weights")
    emit("[[stage]]")
    if (!is.null(s$retention)) {
      emit("retention = ", number_text(s$retention, paste0(arg, "$retention"), fail))
    }
    if (!is.null(s$weights)) emit("weights = ", values_toml(s$weights, paste0(arg, "$weights"), fail))
    emit_unknown(s, c("retention", "weights"), arg, fail, emit)
  }

  groups <- x$groups
  if (!is.list(groups) || !length(groups)) fail("groups", "a list of groups")
  for (i in seq_along(groups)) {
    g <- groups[[i]]
    arg <- sprintf("groups[[%d]]", i)
    if (!is.list(g)) fail(arg, "a list of name, proportion, criterion_d and predictor_d")
    name <- if (!is.null(g$name)) g$name else names(groups)[i]
    emit("[[group]]")
    if (!is.null(name) && !is.na(name) && nzchar(name)) {
      emit("name = ", string_text(name, paste0(arg, "$name"), fail))
    }
    if (!is.null(g$proportion)) {
      p <- g$proportion
      at <- paste0(arg, "$proportion")
      if (inherits(p, "selquant_uncertain")) {
        if (length(parts(p)[[1]]) != 1L) fail(at, "must be one number or one uncertain()")
        emit("proportion = ", element_texts(p, at, fail))
      } else {
        emit("proportion = ", number_text(p, at, fail))
      }
    }
    for (k in c("criterion_d", "predictor_d")) {
      if (!is.null(g[[k]])) emit(k, " = ", values_toml(g[[k]], paste0(arg, "$", k), fail))
    }
    emit_unknown(g, c("name", "proportion", "criterion_d", "predictor_d"), arg, fail, emit)
  }

  r <- x$correlations
  if (!is.null(r) && !is.list(r)) fail("correlations", "a list of predictors, criteria and validities")
  if (length(r)) {
    emit("[correlations]")
    for (k in names(r)) {
      arg <- paste0("correlations$", k)
      rows <- switch(k, predictors = predictors, criteria = criteria, validities = criteria,
                     fail(arg, "not one of predictors, criteria and validities"))
      cols <- if (k == "criteria") criteria else predictors
      if (!is.null(r[[k]])) emit(k, " = ", matrix_toml(r[[k]], rows, cols, k != "validities", arg, fail))
    }
  }
  paste0(paste(lines, collapse = "\n"), "\n")
}

# A key of a list that R does not know goes to the engine's reader as it is,
# which refuses it and names the nearest key ("unknown key; did you mean
# 'predictor_d'?"), as it does in a design file. Its value is not read.
emit_unknown <- function(l, known, arg, fail, emit) {
  keys <- names(l)
  if (length(l) && (is.null(keys) || any(!nzchar(keys)))) fail(arg, "every element needs a name")
  for (k in setdiff(keys, known)) emit(quoted(k), " = 0")
}

quoted <- function(s) {
  s <- gsub("\\", "\\\\", s, fixed = TRUE)
  s <- gsub("\"", "\\\"", s, fixed = TRUE)
  s <- gsub("\n", "\\n", s, fixed = TRUE)
  s <- gsub("\t", "\\t", s, fixed = TRUE)
  paste0("\"", enc2utf8(s), "\"")
}

array_text <- function(items) paste0("[", paste(items, collapse = ", "), "]")

string_text <- function(s, arg, fail) {
  if (!is.character(s) || length(s) != 1L || is.na(s)) fail(arg, "must be one string")
  quoted(s)
}

# A number as the shortest decimal R writes that reads back to the same double.
number_text <- function(v, arg, fail) {
  if (!is.numeric(v) || length(v) != 1L || is.na(v)) fail(arg, "must be one number")
  number(v)
}

number <- function(v) {
  ifelse(is.finite(v), sprintf("%.17g", v), ifelse(is.nan(v), "nan", ifelse(v > 0, "inf", "-inf")))
}

names_of <- function(v, arg, fail) {
  if (!is.character(v) || !length(v) || anyNA(v)) fail(arg, "must be names (a character vector)")
  v
}

# One value per name: a table by name where the vector has names, else an
# array; an uncertain value as { low, high } or { mean, sd } per element.
values_toml <- function(v, arg, fail) {
  items <- element_texts(v, arg, fail)
  n <- names(parts(v)[[1]])
  if (is.null(n) || !all(nzchar(n))) return(array_text(items))
  paste0("{ ", paste(vapply(n, quoted, ""), items, sep = " = ", collapse = ", "), " }")
}

element_texts <- function(v, arg, fail) {
  p <- parts(v)
  for (x in p) if (!is.numeric(x) || anyNA(x)) fail(arg, "must be numbers or uncertain()")
  if (!inherits(v, "selquant_uncertain")) return(number(as.vector(p[[1]])))
  keys <- names(unclass(v))
  sprintf("{ %s = %s, %s = %s }", keys[1], number(as.vector(p[[1]])), keys[2],
          number(as.vector(p[[2]])))
}

# A matrix (rows x cols, taken by its dimnames where it has them) row by row;
# a correlation matrix keeps its diagonal as given.
matrix_toml <- function(m, rows, cols, square, arg, fail) {
  p <- parts(m)
  if (!square && length(rows) == 1L && is.null(dim(p[[1]]))) {
    # A vector of validities of the one criterion.
    p <- lapply(p, function(x) matrix(x, nrow = 1L, dimnames = list(NULL, names(x))))
  }
  if (length(rows) == 1L && length(cols) == 1L && is.null(dim(p[[1]]))) {
    p <- lapply(p, function(x) matrix(x, 1L, 1L))
  }
  a <- p[[1]]
  if (!is.matrix(a)) fail(arg, "must be a matrix")
  if (nrow(a) != length(rows) || ncol(a) != length(cols)) {
    fail(arg, sprintf("%d x %d; the design needs %d x %d", nrow(a), ncol(a), length(rows), length(cols)))
  }
  order_by <- function(have, want, what) {
    if (is.null(have)) return(seq_along(want))
    if (!setequal(have, want) || anyDuplicated(have)) {
      fail(arg, sprintf("its %s names are not the design's (%s)", what, paste(want, collapse = ", ")))
    }
    match(want, have)
  }
  i <- order_by(rownames(a), rows, "row")
  j <- order_by(colnames(a), cols, "column")
  p <- lapply(p, function(x) x[i, j, drop = FALSE])
  v <- if (inherits(m, "selquant_uncertain")) {
    structure(stats::setNames(p, names(unclass(m))), class = "selquant_uncertain")
  } else {
    p[[1]]
  }
  texts <- element_texts(v, arg, fail)
  if (square) texts[seq(1L, length(texts), by = length(rows) + 1L)] <- number(diag(p[[1]]))
  cells <- matrix(texts, nrow = length(rows))
  array_text(apply(cells, 1L, array_text))
}
