// Free-format (list-directed) numeric input.
//
// A read statement is begin(), one read() per item or array run, end().  Values
// are separated by blanks, commas or line ends; r*v repeats v, r* repeats a
// null, a lone comma is a null (the element keeps its value), a slash ends the
// statement.  end() discards the rest of the current line, so every statement
// starts on a new line.  Every failure is fatal: the reader throws InputError,
// and the program ends with abort_on, which writes the four lines on standard
// error, flushes standard output and terminates abnormally.
#pragma once

#include <array>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace textio {

// A fatal input error: where it happened and what happened.
class InputError : public std::runtime_error {
 public:
  InputError(std::string_view place, std::string_view text)
      : std::runtime_error(std::string(place) + ": " + std::string(text)) {}
};

// Writes the error and the reader's state on standard error, flushes standard
// output and aborts.
[[noreturn]] void abort_on(const InputError& error);

class ListReader {
 public:
  explicit ListReader(std::istream& in) : in_(in) {}

  void begin();  // start a read statement
  void read(int* v, int n);
  void read(float* v, int n);
  void read(double* v, int n);
  void end();  // discard the rest of the current line

  // The first value since the last call that did not fit its kind (a single
  // beyond the largest float, a double that overflowed), as read, and clears
  // it; empty when every value fitted.
  std::string take_overflow();

 private:
  enum class Item { integer, single, real };
  static constexpr int kEnd = -1;        // end of input
  static constexpr int kNothing = -2;    // no character pushed back
  static constexpr int kMaxDigits = 40;  // significant digits retained

  template <class T>
  void read_items(T* v, int n, Item kind);
  // Reads one element's value; returns false when the statement has ended.
  bool element(Item kind);
  void scan(bool integer);  // the value scanner
  int getc();
  void ungetc(int c) {
    if (c != kEnd) pushed_ = c;
  }
  [[noreturn]] void fail(std::string_view place, std::string_view text);

  std::istream& in_;
  int pushed_ = kNothing;
  int lcount_ = 0;      // repeat count still pending
  double lx_ = 0.0;     // the last value converted
  bool ltype_ = false;  // a value is present (false: null)
  bool lquit_ = false;  // a slash ended the statement
  bool leof_ = false;   // end of input met in this statement
  bool eof_ = false;    // end of input met on the stream (kept for the run)
  std::string text_;    // the last value as read (digits and exponent)
  std::string overflow_;
};

}  // namespace textio
