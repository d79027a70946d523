#pragma once

#include <unistd.h>

#include <cstdio>

namespace nolva {

// Owners that make "closed on every path" hold by construction.

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  // QUIRK: a descriptor of 0 counts as failed, as everywhere on this device.
  bool IsOpen() const { return fd_ > 0; }
  int Get() const { return fd_; }

  // Closes now and reports the result, for callers that must know.
  int Close() {
    if (fd_ < 0) return 0;
    int result = close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

class Stream {
 public:
  explicit Stream(FILE* file) : file_(file) {}
  ~Stream() { Close(); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  FILE* Get() const { return file_; }

  int Close() {
    if (!file_) return 0;
    int result = fclose(file_);
    file_ = nullptr;
    return result;
  }

 private:
  FILE* file_;
};

}  // namespace nolva
