#include "textio/outfile.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace textio {
namespace {

// The files not yet in place, where the signal handlers can find them: fixed
// storage, plain characters and a state word, nothing a handler must not touch.
enum : int { kFree = 0, kPending = 1, kKeep = 2 };
struct Slot {
  volatile std::sig_atomic_t state = kFree;
  std::array<char, PATH_MAX> temp{};
  std::array<char, PATH_MAX> target{};
};
// More than the program ever writes at once (results, inputs, summary, figure).
constexpr int kSlots = 8;
std::array<Slot, kSlots> slots;

std::string system_error() {
  return std::strerror(errno);
}

}  // namespace

std::string output_target(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return path;
  // As many links as the system follows in one name.
  constexpr int kMaxLinks = 40;
  for (int hops = 0; hops < kMaxLinks && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  const fs::path dir = fs::weakly_canonical(p.parent_path(), ec);
  return ec ? p.lexically_normal().string() : (dir / p.filename()).string();
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  // Through a symbolic link the file it names is the one replaced, and the
  // temporary file goes beside it (a rename does not cross file systems).
  const std::string target = output_target(path_);
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error_ = "Is a directory";
      return;
    }
    if (!S_ISREG(st.st_mode)) {
      // A device or a pipe is written as it is: there is nothing to replace.
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) error_ = system_error();
      return;
    }
  }
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + "." + base + ".selquant-XXXXXX";
  if (temp.size() >= PATH_MAX || target.size() >= PATH_MAX) {
    error_ = "File name too long";
    return;
  }
  for (int i = 0; i < kSlots; ++i) {
    if (slots[static_cast<std::size_t>(i)].state == kFree) {
      slot_ = i;
      break;
    }
  }
  if (slot_ < 0) {
    error_ = "too many output files";
    return;
  }
  fd_ = ::mkstemp(temp.data());
  if (fd_ < 0) {
    error_ = system_error();
    slot_ = -1;
    return;
  }
  // The permissions an ordinary create would give.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd_, 0666 & ~mask);
  Slot& s = slots[static_cast<std::size_t>(slot_)];
  std::memcpy(s.temp.data(), temp.c_str(), temp.size() + 1);
  std::memcpy(s.target.data(), target.c_str(), target.size() + 1);
  temp_ = temp;
  s.state = kPending;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (slot_ >= 0) {
    ::unlink(temp_.c_str());
    slots[static_cast<std::size_t>(slot_)].state = kFree;
  }
}

bool OutputFile::write(std::string_view text) {
  if (!ok()) return false;
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = system_error();
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void OutputFile::keep_on_interrupt() {
  if (slot_ >= 0) slots[static_cast<std::size_t>(slot_)].state = kKeep;
}

bool OutputFile::commit() {
  if (!ok()) return false;
  if (slot_ < 0) return true;  // written in place
  if (::fsync(fd_) != 0 && errno != EINVAL) error_ = system_error();
  if (::close(fd_) != 0 && ok()) error_ = system_error();
  fd_ = -1;
  Slot& s = slots[static_cast<std::size_t>(slot_)];
  if (ok() && ::rename(s.temp.data(), s.target.data()) != 0) error_ = system_error();
  if (!ok()) return false;  // the destructor removes the temporary file
  s.state = kFree;
  slot_ = -1;
  return true;
}

void settle_outputs_on_interrupt() {
  for (Slot& s : slots) {
    if (s.state == kKeep) {
      ::rename(s.temp.data(), s.target.data());
    } else if (s.state == kPending) {
      ::unlink(s.temp.data());
    }
    s.state = kFree;
  }
}

void discard_outputs() {
  for (Slot& s : slots) {
    if (s.state != kFree) ::unlink(s.temp.data());
    s.state = kFree;
  }
}

}  // namespace textio
