# Pieces of work through the active future::plan() (future.apply, where
# installed), or one after another here: the same numbers either way, since
# every piece is computed as the whole would compute it and joined in order.
in_pieces <- function(calls, fn, caller) {
  run <- function(args) do.call(fn, args)
  engine_call(
    if (requireNamespace("future.apply", quietly = TRUE)) {
      future.apply::future_lapply(calls, run, future.packages = "selquant", future.seed = NULL)
    } else {
      lapply(calls, run)
    },
    caller)
}

# Whether the active plan runs futures elsewhere than here, one at a time.
plan_spreads <- function() {
  requireNamespace("future", quietly = TRUE) && !inherits(future::plan(), "sequential")
}

# Contiguous ranges of the samples 1..n, as even as can be.
chunk_bounds <- function(n, chunks) {
  size <- n %/% chunks
  sizes <- size + (seq_len(chunks) <= n %% chunks)
  last <- cumsum(sizes)
  data.frame(first = last - sizes + 1L, last = last)
}
