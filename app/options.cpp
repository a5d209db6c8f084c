#include "app/options.hpp"

#include <charconv>
#include <string_view>

#include "selquant/schedule.hpp"

namespace app {
namespace {

// Upper bound of --threads: far beyond any machine, low enough for a window
// of passes in flight to stay small.
constexpr int kMaxThreads = 1024;

// A whole number from lo to hi, written in decimal digits only.
bool parse_count(std::string_view text, int lo, int hi, int& value) {
  if (text.empty() || text.front() == '+' || text.front() == '-') return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && value >= lo && value <= hi;
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, Options& options) {
  options.run.threads = selquant::available_processors();
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view name = arg;
    std::string_view value;
    bool has_value = false;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    // The value of an option that takes one: after '=' or the next argument.
    auto take_value = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if (name == "--threads") {
      if (!take_value()) return "option --threads needs a value";
      if (!parse_count(value, 1, kMaxThreads, options.run.threads))
        return "--threads must be a whole number from 1 to " + std::to_string(kMaxThreads) +
               ", not '" + std::string(value) + "'";
    } else {
      return "unknown argument '" + std::string(arg) + "'";
    }
  }
  return {};
}

}  // namespace app
