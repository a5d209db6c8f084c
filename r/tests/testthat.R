library(testthat)
library(selquant)

test_check("selquant")
