#include "engine/wire.hpp"

#include <cstdint>
#include <cstring>
#include <vector>

namespace selquant::wire {
namespace {

// Marks the start of each kind of piece, and its layout's version.
constexpr std::uint32_t kStudyMark = 0x53515331;  // "SQS1"
constexpr std::uint32_t kFoundMark = 0x53514631;  // "SQF1"

class Writer {
 public:
  template <class T>
  void put(T v) {
    static_assert(std::is_trivially_copyable_v<T>);
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void put(const std::string& s) {
    put(static_cast<std::uint64_t>(s.size()));
    out += s;
  }
  template <class T>
  void put(const std::vector<T>& v) {
    put(static_cast<std::uint64_t>(v.size()));
    for (const T& x : v)
      put(x);
  }
  template <class T>
  void operator()(const T& v) {
    put(v);
  }
  std::string out;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  template <class T>
  void get(T& v) {
    static_assert(std::is_trivially_copyable_v<T>);
    need(sizeof v);
    std::memcpy(&v, in_.data(), sizeof v);
    in_.remove_prefix(sizeof v);
  }
  void get(std::string& s) {
    const std::size_t n = size();
    need(n);
    s.assign(in_.data(), n);
    in_.remove_prefix(n);
  }
  template <class T>
  void get(std::vector<T>& v) {
    v.resize(size());
    for (T& x : v)
      get(x);
  }
  template <class T>
  void operator()(T& v) {
    get(v);
  }
  void end() const {
    if (!in_.empty()) throw std::invalid_argument("bytes left after the piece");
  }

 private:
  std::size_t size() {
    std::uint64_t n = 0;
    get(n);
    if (n > in_.size()) throw std::invalid_argument("a piece cut short");
    return static_cast<std::size_t>(n);
  }
  void need(std::size_t n) const {
    if (n > in_.size()) throw std::invalid_argument("a piece cut short");
  }
  std::string_view in_;
};

void put_table(Writer& w, const Table& t) {
  w.put(static_cast<std::uint64_t>(t.columns.size()));
  for (const Column& c : t.columns) {
    w.put(c.name);
    w.put(static_cast<std::uint8_t>(c.is_text));
    w.put(c.values);
    w.put(c.text);
  }
}

Table get_table(Reader& r) {
  std::uint64_t n = 0;
  r.get(n);
  Table t;
  for (std::uint64_t i = 0; i < n; ++i) {
    Column c;
    std::uint8_t text = 0;
    r.get(c.name);
    r.get(text);
    c.is_text = text != 0;
    r.get(c.values);
    r.get(c.text);
    t.columns.push_back(std::move(c));
  }
  return t;
}

// A point's fields, written or read in one order.
template <class IO, class Point>
void point_fields(IO& io, Point& p) {
  io(p.structure);
  io(p.objectives);
  io(p.weights);
  io(p.retention);
  io(p.cost);
  io(p.utility);
  io(p.constrained);
  io(p.mean);
  io(p.p5);
  io(p.p95);
}

void check_mark(Reader& r, std::uint32_t want) {
  std::uint32_t mark = 0;
  r.get(mark);
  if (mark != want) throw std::invalid_argument("not a piece of this kind");
}

}  // namespace

std::string bytes_of(const Study& s) {
  Writer w;
  w.put(kStudyMark);
  w.put(static_cast<std::uint8_t>(s.complete));
  put_table(w, s.results);
  put_table(w, s.inputs);
  put_table(w, s.summary);
  w.put(s.counted);
  w.put(s.searched);
  w.put(s.not_found);
  return std::move(w.out);
}

Study study_of(std::string_view bytes) {
  Reader r(bytes);
  check_mark(r, kStudyMark);
  Study s;
  std::uint8_t complete = 0;
  r.get(complete);
  s.complete = complete != 0;
  s.results = get_table(r);
  s.inputs = get_table(r);
  s.summary = get_table(r);
  r.get(s.counted);
  r.get(s.searched);
  r.get(s.not_found);
  r.end();
  return s;
}

std::string bytes_of(const LayoutSearch& f) {
  Writer w;
  w.put(kFoundMark);
  w.put(static_cast<std::uint64_t>(f.points.size()));
  for (const FrontPoint& p : f.points)
    point_fields(w, p);
  w.put(f.searched);
  w.put(f.evaluations);
  return std::move(w.out);
}

LayoutSearch layout_search_of(std::string_view bytes) {
  Reader r(bytes);
  check_mark(r, kFoundMark);
  LayoutSearch f;
  std::uint64_t n = 0;
  r.get(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    FrontPoint p;
    point_fields(r, p);
    f.points.push_back(std::move(p));
  }
  r.get(f.searched);
  r.get(f.evaluations);
  r.end();
  return f;
}

}  // namespace selquant::wire
