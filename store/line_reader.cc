#include "store/line_reader.h"

#include <cstring>

namespace nolva {

void LineReader::Refill() {
  const std::size_t kept = end_ - next_;
  memmove(bytes_, bytes_ + next_, kept);
  const std::size_t room = sizeof bytes_ - kept;
  const std::size_t got = fread(bytes_ + kept, 1, room, file_);
  holdsNul_ = holdsNul_ || memchr(bytes_ + kept, '\0', got) != nullptr;
  next_ = 0;
  end_ = kept + got;
  atEnd_ = got < room;
  failed_ = ferror(file_) != 0;
}

}  // namespace nolva
