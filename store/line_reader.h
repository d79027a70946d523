#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace nolva {

// QUIRK: one line of a text file as a 256-byte line buffer takes it, which is how
// the device has always read its text files: through the newline, or 255
// bytes of a longer line (the rest comes as further lines), or the file's
// last bytes. The text ends at the line's first NUL byte, as a C string
// would. Valid until the next call of Next.
struct Line {
  const char* text;
  std::size_t length;
};

// Reads a text file in large chunks into a buffer of its own and cuts the
// lines in place: no copy of a line, no allocation.
class LineReader {
 public:
  explicit LineReader(FILE* file) : file_(file) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // False at the end of the file, or once a read has failed. Inline: it
  // runs once a line.
  bool Next(Line* line) {
    for (;;) {
      const char* start = bytes_ + next_;
      const std::size_t left = end_ - next_;
      const std::size_t window = left < kLongestLine ? left : kLongestLine;
      // No search in an empty window: nothing has been read there yet.
      const char* newline =
          window > 0 ? static_cast<const char*>(memchr(start, '\n', window)) : nullptr;
      if (newline || left >= kLongestLine || (atEnd_ && left > 0)) {
        const std::size_t length = newline ? static_cast<std::size_t>(newline - start) + 1 : window;
        next_ += length;
        line->text = start;
        line->length = holdsNul_ ? strnlen(start, length) : length;
        return true;
      }
      if (atEnd_) return false;
      Refill();
    }
  }
  bool Failed() const { return failed_; }
  // The whole file has been read (or a read has failed): nothing can change
  // Failed() any more.
  bool AtEnd() const { return atEnd_; }

 private:
  static constexpr std::size_t kLongestLine = 255;

  // Moves the uncut tail to the front and reads behind it.
  void Refill();

  FILE* file_;
  // Any file the device writes itself arrives in one read.
  char bytes_[16 * 1024];
  std::size_t next_ = 0;  // [next_, end_) is not cut into lines yet
  std::size_t end_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
  bool holdsNul_ = false;  // lines are cut short only in a file that has one
};

}  // namespace nolva
