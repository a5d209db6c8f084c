// libFuzzer target: arbitrary bytes through the free-format reader into the
// problem record and the model blocks, then the deck checks. A fatal input
// error is the reader's normal answer to bad input; anything else (a crash, a
// hang, a sanitizer report) is a fault.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "formats/deck.hpp"
#include "formats/findings.hpp"
#include "textio/listin.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
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
