#include "textio/record.hpp"

#include <cassert>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace textio {
namespace {

[[noreturn]] void layout_failure(std::string_view text) {
  std::fputs("format too complicated:\n", stderr);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  std::cout.flush();
  std::fflush(stdout);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

// Recursive-descent compiler of one parenthesised list.
class Compiler {
 public:
  Compiler(std::string_view text, std::vector<Layout::Op>& ops) : s_(text), ops_(ops) {}

  // Compiles the whole layout; returns the index of the last top-level group or 0.
  int compile_all() {
    skip_blanks();
    // The outer parentheses may be written or implied.
    bool outer = false;
    if (pos_ < s_.size() && s_[pos_] == '(') {
      std::size_t close = matching(pos_);
      skip_trailing_from(close + 1);
      outer = true;
      ++pos_;
    }
    int revloc = 0;
    list(outer ? ')' : '\0', 0, revloc);
    return revloc;
  }

 private:
  [[noreturn]] void fail() const { layout_failure(s_); }
  static Layout::Op op(Layout::Kind kind, int w = 0, int d = 0, int rep = 1,
                       std::string text = {}) {
    return Layout::Op{kind, w, d, rep, 0, std::move(text)};
  }

  void skip_blanks() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_])))
      ++pos_;
  }
  std::size_t matching(std::size_t open) const {
    int depth = 0;
    for (std::size_t i = open; i < s_.size(); ++i) {
      char c = s_[i];
      if (c == '"' || c == '\'') {
        for (++i; i < s_.size(); ++i) {
          if (s_[i] == c) {
            if (i + 1 < s_.size() && s_[i + 1] == c) {
              ++i;
            } else {
              break;
            }
          }
        }
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0) {
        return i;
      }
    }
    fail();
  }
  void skip_trailing_from(std::size_t i) const {
    for (; i < s_.size(); ++i)
      if (!std::isspace(static_cast<unsigned char>(s_[i]))) fail();
  }
  int number() {
    // Blanks inside repeat counts are ignored.
    int n = 0;
    bool any = false;
    while (pos_ < s_.size() &&
           (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == ' ')) {
      if (s_[pos_] != ' ') {
        n = n * 10 + (s_[pos_] - '0');
        any = true;
        if (n > 1000000) fail();
      }
      ++pos_;
    }
    return any ? n : -1;
  }
  void push(Layout::Op op) {
    if (static_cast<int>(ops_.size()) >= Layout::kMaxOps) fail();
    ops_.push_back(std::move(op));
  }

  void list(char closer, int depth, int& revloc) {
    for (;;) {
      skip_blanks();
      if (pos_ >= s_.size()) {
        if (closer != '\0') fail();
        return;
      }
      char c = s_[pos_];
      if (c == ')') {
        if (closer != ')') fail();
        ++pos_;
        return;
      }
      if (c == ',') {
        ++pos_;
        continue;
      }
      if (c == '/') {
        ++pos_;
        push(op(Layout::Kind::slash));
        continue;
      }
      if (c == '"' || c == '\'') {
        push(op(Layout::Kind::literal, 0, 0, 1, literal(c)));
        continue;
      }
      int count = number();
      skip_blanks();
      if (pos_ >= s_.size()) fail();
      char e = static_cast<char>(std::toupper(static_cast<unsigned char>(s_[pos_])));
      if (e == '(') {
        ++pos_;
        int begin = static_cast<int>(ops_.size());
        if (depth == 0) revloc = begin;
        push(op(Layout::Kind::group_begin, count < 0 ? 1 : count));
        int inner = 0;
        list(')', depth + 1, inner);
        push(op(Layout::Kind::group_end));
        int end = static_cast<int>(ops_.size()) - 1;
        ops_[begin].jump = end;
        ops_[end].jump = begin;
        if (ops_[begin].w < 1) fail();
      } else if (e == 'X') {
        ++pos_;
        push(op(Layout::Kind::move, count < 0 ? 1 : count));
      } else if (e == 'I' || e == 'F') {
        ++pos_;
        int w = number();
        int d = 0;
        if (e == 'F') {
          skip_blanks();
          if (pos_ >= s_.size() || s_[pos_] != '.') fail();
          ++pos_;
          d = number();
        }
        if (w < 1 || d < 0 || count == 0) fail();
        push(
            op(e == 'I' ? Layout::Kind::integer : Layout::Kind::real, w, d, count < 0 ? 1 : count));
      } else {
        fail();
      }
    }
  }

  std::string literal(char quote) {
    std::string text;
    for (++pos_; pos_ < s_.size(); ++pos_) {
      if (s_[pos_] == quote) {
        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == quote) {
          text += quote;
          ++pos_;
        } else {
          ++pos_;
          return text;
        }
      } else {
        text += s_[pos_];
      }
    }
    fail();
  }

  std::string_view s_;
  std::vector<Layout::Op>& ops_;
  std::size_t pos_ = 0;
};

std::string asterisks(int w) {
  return std::string(static_cast<std::size_t>(w), '*');
}

std::string right(std::string text, int w) {
  if (static_cast<int>(text.size()) > w) return asterisks(w);
  return std::string(static_cast<std::size_t>(w) - text.size(), ' ') + text;
}

}  // namespace

Layout::Layout(std::string_view text) : text_(text) {
  Compiler compiler(text_, ops_);
  revloc_ = compiler.compile_all();
  for (const Op& op : ops_)
    if (op.kind == Kind::integer || op.kind == Kind::real) has_data_ = true;
}

std::string format_i(std::int64_t v, int w) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  if (v < 0) digits.insert(digits.begin(), '-');
  return right(digits, w);
}

std::string format_f(double v, int w, int d) {
  if (std::isnan(v)) return right("NaN", w);
  if (std::isinf(v)) return right(v < 0 ? "-Inf" : "Inf", w);
  bool negative = v < 0;  // negative zero counts as zero
  double a = std::fabs(v);
  int n = std::snprintf(nullptr, 0, "%.*f", d, a);
  std::string text(static_cast<std::size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, "%.*f", d, a);
  if (d == 0) text += '.';
  if (negative && text.find_first_not_of("0.") == std::string::npos) negative = false;
  int need = static_cast<int>(text.size()) + (negative ? 1 : 0);
  if (need > w) {
    if (text[0] == '0' && need - 1 == w) {
      text.erase(0, 1);
    } else {
      return asterisks(w);
    }
  }
  if (negative) text.insert(text.begin(), '-');
  return right(text, w);
}

void Writer::begin(const Layout& layout) {
  layout_ = &layout;
  buf_.clear();
  cursor_ = 0;
  workdone_ = false;
  pc_ = 0;
  rep_left_ = 0;
  depth_ = 0;
}

void Writer::emit(std::string_view s) {
  if (cursor_ > 0) buf_.append(static_cast<std::size_t>(cursor_), ' ');
  cursor_ = 0;
  buf_.append(s);
}

void Writer::record_end() {
  buf_ += '\n';
  out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
  if (flush_) out_.flush();
  buf_.clear();
  cursor_ = 0;
}

const Layout::Op* Writer::advance() {
  const auto& ops = layout_->ops();
  const int n = static_cast<int>(ops.size());
  while (pc_ < n) {
    const Layout::Op& op = ops[static_cast<std::size_t>(pc_)];
    switch (op.kind) {
      case Layout::Kind::integer:
      case Layout::Kind::real:
        return &op;
      case Layout::Kind::literal:
        emit(op.text);
        ++pc_;
        break;
      case Layout::Kind::move:
        cursor_ += op.w;
        ++pc_;
        break;
      case Layout::Kind::slash:
        record_end();
        ++pc_;
        break;
      case Layout::Kind::group_begin:
        assert(depth_ < kMaxDepth);
        loops_[static_cast<std::size_t>(depth_++)] = {pc_, op.w};
        ++pc_;
        break;
      case Layout::Kind::group_end: {
        Loop& top = loops_[static_cast<std::size_t>(depth_ - 1)];
        if (--top.left > 0) {
          pc_ = top.begin + 1;
        } else {
          --depth_;
          ++pc_;
        }
        break;
      }
    }
  }
  return nullptr;
}

const Layout::Op* Writer::next_data() {
  assert(layout_ != nullptr);
  if (!layout_->has_data()) return nullptr;
  for (;;) {
    if (const Layout::Op* op = advance()) {
      if (rep_left_ == 0) rep_left_ = op->rep;
      return op;
    }
    // Reversion: more items than the layout has data edits.
    if (workdone_) {
      record_end();
      workdone_ = false;
    }
    pc_ = layout_->reversion();
    depth_ = 0;
  }
}

void Writer::put(int v) {
  const Layout::Op* op = next_data();
  if (op == nullptr) return;  // a layout without data edits takes no items
  if (op->kind == Layout::Kind::integer) {
    emit(format_i(v, op->w));
  } else {
    emit(format_f(static_cast<double>(v), op->w, op->d));
  }
  workdone_ = true;
  if (--rep_left_ == 0) ++pc_;
}

void Writer::put(double v) {
  const Layout::Op* op = next_data();
  if (op == nullptr) return;
  if (op->kind == Layout::Kind::real) {
    emit(format_f(v, op->w, op->d));
  } else {
    // A real under an integer edit cannot be laid out: the field shows asterisks.
    emit(asterisks(op->w));
  }
  workdone_ = true;
  if (--rep_left_ == 0) ++pc_;
}

void Writer::end() {
  advance();
  record_end();
  layout_ = nullptr;
}

}  // namespace textio
