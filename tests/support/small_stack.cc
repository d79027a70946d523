#include "tests/support/small_stack.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace nolva::test {
namespace {

constexpr unsigned char kUnused = 0xA5;
constexpr std::size_t kGuard = 64 * 1024;  // larger than any one frame may jump

void* Start(void* body) {
  (*static_cast<const std::function<void()>*>(body))();
  return nullptr;
}

}  // namespace

std::size_t RunOnStack(std::size_t size, const std::function<void()>& body) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  size = (size + page - 1) / page * page;
  void* mapped =
      mmap(nullptr, kGuard + size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) std::abort();
  auto* base = static_cast<unsigned char*>(mapped);
  mprotect(base, kGuard, PROT_NONE);
  unsigned char* stack = base + kGuard;
  std::memset(stack, kUnused, size);

  // The thread's own bookkeeping (its descriptor and thread-local data)
  // sits at the top of the given stack, as with a stack size attribute. An
  // overflow hits the guard below it and ends the process.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstack(&attributes, stack, size);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, Start, const_cast<std::function<void()>*>(&body)) != 0)
    std::abort();
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);

  std::size_t untouched = 0;
  while (untouched < size && stack[untouched] == kUnused)
    ++untouched;
  munmap(mapped, kGuard + size);
  return size - untouched;
}

}  // namespace nolva::test
