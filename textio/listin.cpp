#include "textio/listin.hpp"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ios>
#include <istream>
#include <string>

namespace textio {
namespace {

constexpr std::string_view kEndOfFile = "end of file";
constexpr std::string_view kIncomprehensible = "incomprehensible list input";
constexpr std::string_view kUnexpected = "read unexpected character";

bool is_digit(int c) {
  return c >= '0' && c <= '9';
}
bool is_blank(int c) {
  return c == ' ' || c == '\t';
}

int to_int(double x) {
  // Truncation toward zero; values beyond the 32-bit range are held at its ends.
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return INT_MAX;
  if (x <= -2147483648.0) return INT_MIN;
  return static_cast<int>(x);
}

float to_single(double x) {
  // Beyond the largest binary32 (plus half an ulp) the nearest value is infinite.
  constexpr double kOverflow = 0x1.ffffffp127;
  if (std::fabs(x) >= kOverflow) return x < 0 ? -INFINITY : INFINITY;
  return static_cast<float>(x);
}

// What a person is told of a token the scanner refused, by the scanner's place.
std::string_view problem_of(std::string_view place) {
  if (place == "invalid integer") return "is not a whole number";
  if (place == "exponent field") return "has no valid exponent";
  if (place == "bad repetition count") return "has no valid repeat count";
  return "is not a number";
}

bool is_separator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '/';
}

// A token as it may be shown: control characters written as escapes.
std::string shown(std::string_view token) {
  std::string s;
  for (char c : token) {
    if (c == '\r') {
      s += "\\r";
    } else if (static_cast<unsigned char>(c) < 32) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
      s += buf;
    } else {
      s += c;
    }
  }
  return s;
}

// Whether a token of a remark would read as a value: an optional repeat count
// and star, then a number in any of the reader's forms.
bool is_number(std::string_view t) {
  if (const auto star = t.find('*'); star != std::string_view::npos) {
    const std::string_view count = t.substr(0, star);
    if (count.empty() || count.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    t.remove_prefix(star + 1);
  }
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  for (; i < t.size() && is_digit(t[i]); ++i)
    ++digits;
  if (i < t.size() && t[i] == '.')
    for (++i; i < t.size() && is_digit(t[i]); ++i)
      ++digits;
  if (digits == 0) return false;
  if (i == t.size()) return true;
  if (std::string_view("DEde").find(t[i]) != std::string_view::npos) ++i;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  const std::size_t exponent = i;
  while (i < t.size() && is_digit(t[i]))
    ++i;
  return i == t.size() && i > exponent;
}

}  // namespace

std::string ListReader::read_name() const {
  if (read_ == 0) return {};
  return "read " + std::to_string(read_) + (what_.empty() ? "" : ": " + what_);
}

void ListReader::fail_at(std::string_view place, std::string_view text, std::string_view problem) {
  // The character that failed is the last one fetched, or the line end.
  const bool line_end = after_line_end_;
  std::string line = line_end ? ended_ : current_;
  const std::size_t at = line_end || line.empty() ? line.size() : line.size() - 1;
  std::size_t begin = at;
  while (begin > 0 && !is_separator(line[begin - 1]))
    --begin;
  std::size_t end = at;
  if (!line_end && at < line.size() && !is_separator(line[at])) {
    // The rest of the token is still in the stream.
    end = line.size();
    std::streambuf* sb = in_.rdbuf();
    for (int c = sb->sgetc();
         c != std::char_traits<char>::eof() && c != '\n' && !is_separator(static_cast<char>(c));
         c = sb->snextc())
      line += static_cast<char>(c);
    end = line.size();
  }
  const std::string token = line.substr(begin, end - begin);
  std::string where = "line " + std::to_string(line_end ? line_ - 1 : line_) + ", column " +
                      std::to_string(begin + 1) + ": ";
  where += token.empty() ? std::string(problem) : "'" + shown(token) + "' " + std::string(problem);
  if (read_ > 0) where += " (" + read_name() + ")";
  throw InputError(place, text, where);
}

void ListReader::fail_end(std::string_view place, std::string_view text, bool at_start) {
  const int last = after_line_end_ ? line_ - 1 : line_;
  std::string where;
  if (text != kEndOfFile) {
    where = "line " + std::to_string(line_) + ": the deck could not be read: " + std::string(text);
    if (read_ > 0) where += " (" + read_name() + ")";
  } else if (!any_value_) {
    where = "the deck is empty";
  } else {
    where = "line " + std::to_string(last) + ": the deck ends " +
            (at_start ? "before read " : "within read ") + std::to_string(read_) +
            (what_.empty() ? "" : " (" + what_ + ")");
  }
  throw InputError(place, text, where);
}

int ListReader::getc() {
  if (pushed_ != kNothing) {
    int c = pushed_;
    pushed_ = kNothing;
    return c;
  }
  if (eof_) return kEnd;
  std::streambuf* sb = in_.rdbuf();
  int c;
  errno = 0;
  try {
    c = sb->sbumpc();
  } catch (const std::ios_base::failure&) {
    // The stream buffer reports a failed read by throwing.
    const int error = errno;
    fail_end("list in", error != 0 ? std::strerror(error) : "read error", false);
  }
  if (c == std::char_traits<char>::eof()) {
    leof_ = true;
    eof_ = true;
    return kEnd;
  }
  // A carriage return directly before a line feed belongs to the line end.
  if (c == '\r' && sb->sgetc() == '\n') c = sb->sbumpc();
  if (c == '\n') {
    ended_.swap(current_);
    current_.clear();
    ++line_;
    after_line_end_ = true;
  } else {
    current_ += static_cast<char>(c);
    after_line_end_ = false;
    any_value_ = any_value_ || !is_blank(c);
  }
  return c;
}

std::vector<std::string> ListReader::take_notes() {
  std::vector<std::string> n;
  n.swap(notes_);
  return n;
}

std::string ListReader::trailing_lines() {
  if (eof_) return {};
  int first = 0;
  int last = 0;
  bool content = false;
  for (int c = getc(); c != kEnd; c = getc()) {
    if (c == '\n') {
      content = false;
    } else if (!content && !is_blank(c) && c != '\r') {
      content = true;
      last = line_;
      if (first == 0) first = line_;
    }
  }
  if (first == 0) return {};
  const std::string after = read_ > 0 ? " (read " + std::to_string(read_) + ")" : "";
  if (first == last)
    return "line " + std::to_string(first) + " follows the last read" + after + " and is not read";
  return "lines " + std::to_string(first) + " to " + std::to_string(last) +
         " follow the last read" + after + " and are not read";
}

std::string ListReader::take_overflow() {
  std::string o;
  o.swap(overflow_);
  return o;
}

void ListReader::begin(int read, std::string what) {
  read_ = read;
  what_ = std::move(what);
  read_started_ = false;
  glued_ = false;
  lcount_ = 0;
  lquit_ = false;
  leof_ = false;
  if (eof_) fail_end("read start", kEndOfFile, true);
}

void ListReader::end() {
  const int at = line_;
  std::string rest;
  for (;;) {
    int c = getc();
    if (c == '\n') break;
    if (c == kEnd) {
      leof_ = true;
      eof_ = true;
      break;
    }
    rest += static_cast<char>(c);
  }
  if (lquit_) return;  // a slash made the rest a remark
  if (glued_ && value_line_ == at && !rest.empty() && !is_separator(rest[0])) {
    // The last value ran into other characters: most likely a typo.
    const std::size_t end = rest.find_first_of(" \t,/");
    notes_.push_back("line " + std::to_string(at) + ": '" +
                     shown(value_text_ + rest.substr(0, end)) + "' was read as " + value_text_);
    glued_ = false;
    return;
  }
  // Numbers at the start of what is discarded were most likely meant as values.
  std::string numbers;
  int count = 0;
  for (std::size_t i = 0; i < rest.size();) {
    if (is_separator(rest[i]) && rest[i] != '/') {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < rest.size() && !is_separator(rest[j]))
      ++j;
    const std::string_view token = std::string_view(rest).substr(i, j - i);
    if (!is_number(token)) break;
    if (count++ > 0) numbers += ' ';
    numbers.append(token);
    i = j;
  }
  if (count > 0)
    notes_.push_back("line " + std::to_string(at) + ": " + numbers + " after the last value of " +
                     (read_ > 0 ? "read " + std::to_string(read_) : std::string("the read")) +
                     (count == 1 ? " is" : " are") + " ignored");
}

void ListReader::read(int* v, int n) {
  read_items(v, n, Item::integer);
}
void ListReader::read(float* v, int n) {
  read_items(v, n, Item::single);
}
void ListReader::read(double* v, int n) {
  read_items(v, n, Item::real);
}

template <class T>
void ListReader::read_items(T* v, int n, Item kind) {
  for (int i = 0; i < n; ++i) {
    if (!element(kind)) return;
    if (ltype_) {
      if constexpr (std::is_same_v<T, int>) {
        v[i] = to_int(lx_);
      } else if constexpr (std::is_same_v<T, float>) {
        v[i] = to_single(lx_);
        if (std::isinf(v[i]) && overflow_.empty()) {
          overflow_ = text_;
          overflow_line_ = value_line_;
        }
      } else {
        v[i] = lx_;
        if (std::isinf(v[i]) && overflow_.empty()) {
          overflow_ = text_;
          overflow_line_ = value_line_;
        }
      }
    }
    if (lcount_ > 0) --lcount_;
  }
}

bool ListReader::element(Item kind) {
  if (lquit_) return false;
  // A pending repeat count is used up before end of input counts as a failure,
  // so "3*1.5" on a last line without a line feed fills all three elements.
  if (leof_ && lcount_ == 0) fail_end("list in", kEndOfFile, false);
  if (lcount_ == 0) {
    ltype_ = false;
    int c;
    do {
      c = getc();
    } while (is_blank(c) || c == '\n');
    if (c == kEnd) fail_end("list in", kEndOfFile, !read_started_);
    read_started_ = true;
    if (c == '/') {
      lquit_ = true;
      return false;
    }
    if (c == ',') {
      lcount_ = 1;
      return true;  // a null: the element keeps its value
    }
    ungetc(c);
  }
  scan(kind == Item::integer);
  int c;
  do {
    c = getc();
  } while (is_blank(c));
  if (!(c == ',' && lcount_ <= 1)) ungetc(c);
  if (lquit_) return false;
  return true;
}

void ListReader::scan(bool integer) {
  if (lcount_ > 0) return;  // repeat in progress: the previous value stands
  lcount_ = 1;
  // The value's text begins with the character pushed back (already on the
  // line) or with the next one.
  const std::size_t start = current_.size() - (pushed_ != kNothing ? 1 : 0);
  glued_ = false;
  bool star = false;
  for (;;) {
    ltype_ = false;
    long e = 0;
    std::array<char, kMaxDigits + 1> digits{};
    int nd = 0;
    bool overflow = false;
    bool seen = false;
    bool negative = false;
    int c = getc();
    if (c == '-' || c == '+') {
      negative = c == '-';
      c = getc();
    }
    while (c == '0') {
      seen = true;
      c = getc();
    }
    for (; is_digit(c); c = getc()) {
      seen = true;
      if (nd < kMaxDigits) {
        digits[static_cast<std::size_t>(nd++)] = static_cast<char>(c);
      } else {
        overflow = true;
        ++e;
      }
    }
    if (c == '*' && !star) {
      if (nd == 0 || overflow || negative)
        fail_at("bad repetition count", kIncomprehensible, problem_of("bad repetition count"));
      long count = std::strtol(digits.data(), nullptr, 10);
      lcount_ = count > INT_MAX ? INT_MAX : static_cast<int>(count);
      star = true;
      continue;  // scan the value after the star, which may be empty
    }
    if (c == '.') {
      if (integer) fail_at("invalid integer", kUnexpected, problem_of("invalid integer"));
      c = getc();
      if (nd == 0) {
        for (; c == '0'; c = getc()) {
          seen = true;
          --e;
        }
      }
      for (; is_digit(c); c = getc()) {
        seen = true;
        if (nd < kMaxDigits) {
          digits[static_cast<std::size_t>(nd++)] = static_cast<char>(c);
          --e;
        }
      }
    }
    bool exponent = false;
    bool exp_negative = false;
    if (c == '+' || c == '-') {
      exponent = true;
      exp_negative = c == '-';
      c = getc();
    } else if (seen && (c == 'D' || c == 'E' || c == 'd' || c == 'e')) {
      if (integer) fail_at("invalid integer", kUnexpected, problem_of("invalid integer"));
      exponent = true;
      c = getc();
      if (c == '+' || c == '-') {
        exp_negative = c == '-';
        c = getc();
      }
    }
    if (exponent) {
      if (!is_digit(c)) fail_at("exponent field", kIncomprehensible, problem_of("exponent field"));
      long ex = 0;
      for (; is_digit(c); c = getc()) {
        ex = ex * 10 + (c - '0');
        if (ex > 99999999)
          fail_at("exponent field", kIncomprehensible, problem_of("exponent field"));
      }
      e += exp_negative ? -ex : ex;
    }
    ungetc(c);
    double value = 0.0;
    if (nd > 0) {
      while (digits[static_cast<std::size_t>(nd - 1)] == '0') {
        --nd;
        ++e;
      }
      std::string text = negative ? "-" : "";
      text.append(digits.data(), static_cast<std::size_t>(nd));
      text += 'e';
      text += std::to_string(e);
      value = std::strtod(text.c_str(), nullptr);
      text_.swap(text);
    } else {
      text_.assign(1, '0');
    }
    if (seen) {
      value_line_ = after_line_end_ ? line_ - 1 : line_;
      // Ended by a character that cannot follow a value (0.3S): if the read
      // ends here, end() notes what was dropped.
      glued_ = c != kEnd && c != '\n' && !is_separator(static_cast<char>(c)) && c != '\r' &&
               start < current_.size();
      if (glued_) value_text_ = current_.substr(start, current_.size() - 1 - start);
      lx_ = value;
      ltype_ = true;
      return;
    }
    if (c == ',' || c == '/' || (star && (is_blank(c) || c == '\n'))) return;  // null
    fail_at("invalid number", kIncomprehensible, problem_of("invalid number"));
  }
}

}  // namespace textio
