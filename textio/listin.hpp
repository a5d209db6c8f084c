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
#include <vector>

namespace textio {

// A fatal input error: where it happened and what happened. what() is the
// reader's own line ("list in: end of file"); located() says it for a person,
// naming the line, the column, the text and the read being filled, e.g.
// "line 7, column 5: '0.3S' is not a number (read 4: effect sizes of group 2,
// first row)". It is empty for an error made without a reader.
class InputError : public std::runtime_error {
 public:
  InputError(std::string_view place, std::string_view text, std::string located = {})
      : std::runtime_error(std::string(place) + ": " + std::string(text)),
        located_(std::move(located)) {}
  const std::string& located() const { return located_; }

 private:
  std::string located_;
};

// Writes the located line (as "selquant: ..."), then the error and the
// reader's state on standard error, discards the output files not yet in
// place, flushes standard output and aborts.
[[noreturn]] void abort_on(const InputError& error);

class ListReader {
 public:
  explicit ListReader(std::istream& in) : in_(in) {}

  // Starts a read statement; `read` and `what` name it in messages ("read 4:
  // effect sizes of group 2, first row").
  void begin(int read = 0, std::string what = {});
  void read(int* v, int n);
  void read(float* v, int n);
  void read(double* v, int n);
  void end();  // discard the rest of the current line

  // The first value since the last call that did not fit its kind (a single
  // beyond the largest float, a double that overflowed), as read, and clears
  // it; empty when every value fitted.
  std::string take_overflow();
  // The line of the value take_overflow() last returned.
  int overflow_line() const { return overflow_line_; }

  // Notes on values that were dropped: numbers after the last value of a read
  // on its line ("line 3: 0.25 after the last value of read 3 is ignored"),
  // or characters run into it ("line 3: '0.3S' was read as 0.3").
  // Taken and cleared.
  std::vector<std::string> take_notes();
  // After the last read: reads the rest of the input and says which lines with
  // something on them follow ("lines 14 to 16 follow the last read (read 12)
  // and are not read"), or returns an empty string.
  std::string trailing_lines();

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
  // Fails at the last character fetched: the blank-delimited token around it
  // is named with `problem` ("is not a number").
  [[noreturn]] void fail_at(std::string_view place, std::string_view text,
                            std::string_view problem);
  // Fails at the end of input, or with a read error of the platform.
  [[noreturn]] void fail_end(std::string_view place, std::string_view text, bool at_start);
  std::string read_name() const;

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
  // Where the reader stands: the stream's line (1-based), its text so far and
  // that of the line a line feed just ended.
  int line_ = 1;
  std::string current_;
  std::string ended_;
  bool after_line_end_ = false;  // the last character fetched ended a line
  bool any_value_ = false;       // some character other than blanks and line ends seen
  int value_line_ = 1;           // of the last value scanned
  int overflow_line_ = 1;        // of the first value that did not fit its kind
  bool read_started_ = false;    // the read statement in progress has met a value
  bool glued_ = false;           // the last value ran into a character on its line
  std::string value_text_;       // that value as written
  int read_ = 0;                 // the read statement in progress and what it fills
  std::string what_;
  std::vector<std::string> notes_;
};

}  // namespace textio
