#include "tests/support/small_stack.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace nolva::test {
namespace {

constexpr unsigned char kUnused = 0xA5;
constexpr std::size_t kGuard = 64 * 1024;  // larger than any one frame may jump

struct Job {
  const char* what;
  const std::function<void()>* body;
};

const char* volatile running = "";
alignas(16) unsigned char signalStack[64 * 1024];

void Say(const char* text) {
  (void)!write(2, text, std::strlen(text));
}

void OnOverflow(int) {
  Say("stack overflow: ");
  Say(running);
  Say(" needs more than its stack\n");
  _exit(86);
}

void* Start(void* argument) {
  const Job* job = static_cast<const Job*>(argument);
  stack_t alternate = {};
  alternate.ss_sp = signalStack;
  alternate.ss_size = sizeof signalStack;
  sigaltstack(&alternate, nullptr);
  struct sigaction action = {};
  action.sa_handler = OnOverflow;
  action.sa_flags = SA_ONSTACK;
  struct sigaction previous = {};
  sigaction(SIGSEGV, &action, &previous);
  running = job->what;
  (*job->body)();
  sigaction(SIGSEGV, &previous, nullptr);
  alternate.ss_flags = SS_DISABLE;
  sigaltstack(&alternate, nullptr);
  return nullptr;
}

}  // namespace

std::size_t RunOnStack(std::size_t size, const char* what, const std::function<void()>& body) {
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
  // sits at the top of the given stack, as with a stack size attribute.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstack(&attributes, stack, size);
  Job job{what, &body};
  pthread_t thread;
  if (pthread_create(&thread, &attributes, Start, &job) != 0) std::abort();
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);

  std::size_t untouched = 0;
  while (untouched < size && stack[untouched] == kUnused)
    ++untouched;
  munmap(mapped, kGuard + size);
  return size - untouched;
}

}  // namespace nolva::test
