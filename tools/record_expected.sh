#!/usr/bin/env bash
# Records the expected reports of the end-to-end decks under tests/data/e2e
# from the built program, with the clock fixed and the CPU time masked.
# Check the key numbers of a recorded report before committing it.
set -euo pipefail
cd "$(dirname "$0")/.."
for deck in tests/data/e2e/*.deck; do
  SOURCE_DATE_EPOCH=1772874303 TZ=UTC build/selquant < "$deck" |
    sed 's/^CPU TIME IN SECONDS .*/@@PREFIX@@CPU TIME IN SECONDS /' > "${deck%.deck}.expected"
done
