// libFuzzer target: arbitrary bytes through the free-format reader into the
// problem record and the model blocks, then the deck checks; through the
// design-file reader, then the writer and reader again; and as a draws file
// checked against a two-stage design, its rows set into a model. A fatal
// input error (or a design file's or draws file's message) is the readers'
// normal answer to bad input; anything else (a crash, a hang, a sanitizer
// report, a design that does not read back as itself, accepted draws whose
// row is not what the model gets) is a fault.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "formats/deck.hpp"
#include "formats/design_file.hpp"
#include "formats/draws.hpp"
#include "formats/findings.hpp"
#include "textio/listin.hpp"

namespace {

// The design draws files are checked against: every kind of input, three
// groups.
selquant::Design draws_design() {
  selquant::Design d;
  const std::string text = R"(sampling = "rectangular"
samples = 10
predictors = ["a", "b"]
criteria = ["x", "y"]
criterion_weights = [1, 1]
[[stage]]
retention = 0.5
weights = [1, 1]
[[group]]
proportion = { low = 0.1, high = 0.2 }
predictor_d = [-0.5, -0.2]
[[group]]
proportion = 0.3
criterion_d = [{ low = -0.3, high = -0.1 }, 0]
[[group]]
[correlations]
predictors = [[{ low = 0.2, high = 0.4 }]]
criteria = [[0.3]]
validities = [[0.3, 0.2], [0.1, 0.2]]
)";
  if (!selquant::read_design(text, "draws.toml", d).empty()) __builtin_trap();
  return d;
}

void fuzz_draws(const std::string& text) {
  static const selquant::Design design = draws_design();
  try {
    const selquant::Given given(design, selquant::read_draws(text));
    auto p = std::make_unique<selquant::Problem>();
    auto m = std::make_unique<selquant::Model>();
    selquant::problem_of(design, &given, *p, *m);
    given.apply(given.last(), *m);
    // A row accepted is a model: proportions summing to 1, correlations inside.
    double sum = 0;
    for (int g = 1; g <= m->wdca.ngroup; ++g)
      sum += m->wdca.prop(g);
    if (!(std::fabs(sum - 1) < 1e-5) || !(std::fabs(m->wdcd.rpp(1, 2)) <= 1)) __builtin_trap();
  } catch (const selquant::DrawsError&) {
  } catch (const std::invalid_argument&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  selquant::Design design;
  if (selquant::read_design(text, "fuzz.toml", design).empty()) {
    selquant::Design back;
    if (!selquant::read_design(selquant::write_design(design), "back.toml", back).empty() ||
        !(back == design))
      __builtin_trap();
  }
  std::istringstream in(text);
  textio::ListReader reader(in);
  auto problem = std::make_unique<selquant::Problem>();
  auto model = std::make_unique<selquant::Model>();
  try {
    if (selquant::read_deck(reader, *problem, *model).empty())
      (void)selquant::deck_findings(*problem, *model);
  } catch (const textio::InputError&) {
  }
  fuzz_draws(text);
  return 0;
}
