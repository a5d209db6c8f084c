// Free-format (list-directed) numeric input.
//
// A read statement is begin(), one read() per item or array run, end().  Values
// are separated by blanks, commas or line ends; r*v repeats v, r* repeats a
// null, a lone comma is a null (the element keeps its value), a slash ends the
// statement.  end() discards the rest of the current line, so every statement
// starts on a new line.  Every failure is fatal: four lines on standard error,
// standard output flushed, abnormal termination.
#pragma once

#include <array>
#include <istream>
#include <string_view>

namespace textio {

class ListReader {
 public:
  explicit ListReader(std::istream& in) : in_(in) {}

  void begin();  // start a read statement
  void read(int* v, int n);
  void read(float* v, int n);
  void read(double* v, int n);
  void end();  // discard the rest of the current line

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
};

}  // namespace textio
