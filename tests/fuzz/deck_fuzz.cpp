// libFuzzer target: arbitrary bytes through the free-format reader into the
// problem record and the model blocks, then the deck checks; and through the
// design-file reader, then the writer and reader again. A fatal input error
// (or a design file's message) is the readers' normal answer to bad input;
// anything else (a crash, a hang, a sanitizer report, a design that does not
// read back as itself) is a fault.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "formats/deck.hpp"
#include "formats/design_file.hpp"
#include "formats/findings.hpp"
#include "textio/listin.hpp"

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
  return 0;
}
