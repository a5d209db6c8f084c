#include "textio/listin.hpp"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ios>
#include <iostream>
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

}  // namespace

void ListReader::fail(std::string_view place, std::string_view text) {
  throw InputError(place, text);
}

void abort_on(const InputError& error) {
  std::fprintf(stderr, "%s\n", error.what());
  std::fputs("apparent state: unit 5 (unnamed)\n", stderr);
  std::fputs("last format: list io\n", stderr);
  std::fputs("lately reading sequential formatted external IO\n", stderr);
  std::fflush(stderr);
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
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
    fail("list in", error != 0 ? std::strerror(error) : "read error");
  }
  if (c == std::char_traits<char>::eof()) {
    leof_ = true;
    eof_ = true;
    return kEnd;
  }
  // A carriage return directly before a line feed belongs to the line end.
  if (c == '\r' && sb->sgetc() == '\n') c = sb->sbumpc();
  return c;
}

std::string ListReader::take_overflow() {
  std::string o;
  o.swap(overflow_);
  return o;
}

void ListReader::begin() {
  lcount_ = 0;
  lquit_ = false;
  leof_ = false;
  if (eof_) fail("read start", kEndOfFile);
}

void ListReader::end() {
  for (;;) {
    int c = getc();
    if (c == '\n') break;
    if (c == kEnd) {
      leof_ = true;
      eof_ = true;
      break;
    }
  }
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
        if (std::isinf(v[i]) && overflow_.empty()) overflow_ = text_;
      } else {
        v[i] = lx_;
        if (std::isinf(v[i]) && overflow_.empty()) overflow_ = text_;
      }
    }
    if (lcount_ > 0) --lcount_;
  }
}

bool ListReader::element(Item kind) {
  if (lquit_) return false;
  // A pending repeat count is used up before end of input counts as a failure,
  // so "3*1.5" on a last line without a line feed fills all three elements.
  if (leof_ && lcount_ == 0) fail("list in", kEndOfFile);
  if (lcount_ == 0) {
    ltype_ = false;
    int c;
    do {
      c = getc();
    } while (is_blank(c) || c == '\n');
    if (c == kEnd) fail("list in", kEndOfFile);
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
      if (nd == 0 || overflow || negative) fail("bad repetition count", kIncomprehensible);
      long count = std::strtol(digits.data(), nullptr, 10);
      lcount_ = count > INT_MAX ? INT_MAX : static_cast<int>(count);
      star = true;
      continue;  // scan the value after the star, which may be empty
    }
    if (c == '.') {
      if (integer) fail("invalid integer", kUnexpected);
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
      if (integer) fail("invalid integer", kUnexpected);
      exponent = true;
      c = getc();
      if (c == '+' || c == '-') {
        exp_negative = c == '-';
        c = getc();
      }
    }
    if (exponent) {
      if (!is_digit(c)) fail("exponent field", kIncomprehensible);
      long ex = 0;
      for (; is_digit(c); c = getc()) {
        ex = ex * 10 + (c - '0');
        if (ex > 99999999) fail("exponent field", kIncomprehensible);
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
      lx_ = value;
      ltype_ = true;
      return;
    }
    if (c == ',' || c == '/' || (star && (is_blank(c) || c == '\n'))) return;  // null
    fail("invalid number", kIncomprehensible);
  }
}

}  // namespace textio
