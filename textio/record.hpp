// Report records: layouts in the classic edit-descriptor notation, compiled once
// and walked with the items of one write statement.
//
//   static const textio::Layout kRow{R"((3X,I5,3X,I5,2X,F8.3))"};
//   writer.write(kRow, s, g, q);
//
// Edit items: "text" or 'text' literals (a doubled quote stands for itself),
// nX moves, / record ends, Iw integers, Fw.d reals, repeat counts r and groups
// r(...) that nest.  Items run out -> the record stops at the first data edit
// with nothing left; more items than edits -> reversion to the rightmost
// top-level group.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

class Layout {
 public:
  enum class Kind : std::uint8_t { literal, move, slash, integer, real, group_begin, group_end };
  struct Op {
    Kind kind;
    int w = 0;     // field width, move distance or group repeat count
    int d = 0;     // decimals of Fw.d
    int rep = 1;   // repeat count of a data edit
    int jump = 0;  // group_begin: index of its group_end; group_end: index of its group_begin
    std::string text;
  };

  // Compiles the layout; a layout of more than kMaxOps operations or one that
  // does not parse ends the program with a message (layouts are program text).
  explicit Layout(std::string_view text);

  const std::vector<Op>& ops() const { return ops_; }
  int reversion() const { return revloc_; }
  bool has_data() const { return has_data_; }

  static constexpr int kMaxOps = 300;

 private:
  std::string text_;
  std::vector<Op> ops_;
  int revloc_ = 0;
  bool has_data_ = false;
};

// Formats one integer as Iw and one real as Fw.d (exposed for tests and reuse).
std::string format_i(std::int64_t v, int w);
std::string format_f(double v, int w, int d);

// One formatted-write record state writing complete records to a stream.
class Writer {
 public:
  // With flush_each_record every finished line is flushed at once, so that an
  // interrupted run keeps every line it has written.
  explicit Writer(std::ostream& out, bool flush_each_record = false)
      : out_(out), flush_(flush_each_record) {}

  void begin(const Layout& layout);  // start a write statement
  void put(int v);
  void put(double v);
  void put(float v) { put(static_cast<double>(v)); }
  void end();  // finish the layout and write the last record

  template <class... Items>
  void write(const Layout& layout, const Items&... items) {
    begin(layout);
    (put(items), ...);
    end();
  }

 private:
  // Carries out literals, moves, slashes and group ends up to the next data
  // edit (returned) or the end of the layout (nullptr).
  const Layout::Op* advance();
  const Layout::Op* next_data();
  void emit(std::string_view s);
  void record_end();

  struct Loop {
    int begin;
    int left;
  };
  static constexpr int kMaxDepth = 16;
  std::ostream& out_;
  bool flush_;
  const Layout* layout_ = nullptr;
  std::string buf_;  // the current record
  int cursor_ = 0;   // pending move to the right
  bool workdone_ = false;
  int pc_ = 0;        // next operation
  int rep_left_ = 0;  // repeats left of the data edit at pc_
  std::array<Loop, kMaxDepth> loops_{};
  int depth_ = 0;
};

}  // namespace textio
