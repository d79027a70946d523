// nolvad: the device's management operations over HTTP(S), as JSON.
#include <malloc.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nolvad/certificate.h"
#include "nolvad/server.h"
#include "nolvad/service.h"

namespace nolvad {
namespace {

const char kUsage[] =
    "usage: nolvad [OPTION]...\n"
    "Serves the device's management operations over HTTP(S) as JSON.\n"
    "\n"
    "  --listen ADDR:PORT         plain HTTP (repeatable; default 127.0.0.1:8080\n"
    "                             when no listener is given; port 0: any free port)\n"
    "  --tls-listen ADDR:PORT     HTTPS, with --tls-cert and --tls-key\n"
    "  --tls-cert FILE            PEM certificate; made with the key when neither exists\n"
    "  --tls-key FILE             PEM private key\n"
    "  --redirect-listen ADDR:PORT  plain HTTP answering 308 to the HTTPS address\n"
    "  --max-image BYTES          largest firmware image (default 33554432)\n"
    "  --max-connections N        connections at once (default 32)\n"
    "  --idle-timeout SECONDS     a connection is closed when silent this long, or when\n"
    "                             a request's headers take longer (default 30)\n"
    "  --session-idle SECONDS     a session ends this long after its last use (default 900)\n"
    "  --help                     this text\n"
    "\n"
    "Prints one line per listener, then one access-log line per request.\n"
    "SIGTERM or SIGINT: stops accepting, lets running requests finish, exits 0.\n";

struct Options {
  std::vector<Endpoint> listen;
  std::vector<Endpoint> tlsListen;
  std::vector<Endpoint> redirectListen;
  std::string certificate;
  std::string key;
  ServiceOptions service;
  ListenerLimits limits;
};

bool Number(const char* text, long long low, long long high, long long* out) {
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high || *text == '+' || *text == ' ')
    return false;
  *out = value;
  return true;
}

// A decimal number from low to high, in the option's own type.
template <typename T>
bool SetNumber(const char* text, long long low, long long high, T* out) {
  long long n = 0;
  if (!Number(text, low, high, &n)) return false;
  *out = static_cast<T>(n);
  return true;
}

using Setter = bool (*)(Options*, const char*);

struct Flag {
  const char* name;
  Setter set;
  const char* expects;  // what the value must be, for the error line
};

bool AddEndpoint(std::vector<Endpoint>* list, const char* value) {
  Endpoint endpoint;
  if (!ParseEndpoint(value, &endpoint)) return false;
  list->push_back(endpoint);
  return true;
}

const Flag kFlags[] = {
    {"--listen", [](Options* o, const char* v) { return AddEndpoint(&o->listen, v); },
     "ADDR:PORT, such as 127.0.0.1:8080 or [::1]:8080"},
    {"--tls-listen", [](Options* o, const char* v) { return AddEndpoint(&o->tlsListen, v); },
     "ADDR:PORT, such as 0.0.0.0:443"},
    {"--redirect-listen",
     [](Options* o, const char* v) { return AddEndpoint(&o->redirectListen, v); },
     "ADDR:PORT, such as 0.0.0.0:80"},
    {"--tls-cert",
     [](Options* o, const char* v) {
       o->certificate = v;
       return *v != '\0';
     },
     "a file name"},
    {"--tls-key",
     [](Options* o, const char* v) {
       o->key = v;
       return *v != '\0';
     },
     "a file name"},
    {"--max-image",
     [](Options* o, const char* v) {
       return SetNumber(v, nolva::kShortestImage, 0x7FFFFFFF, &o->service.maxImage);
     },
     "a number of bytes from 64 to 2147483647"},
    {"--max-connections",
     [](Options* o, const char* v) { return SetNumber(v, 1, 1024, &o->limits.maxConnections); },
     "a number from 1 to 1024"},
    {"--idle-timeout",
     [](Options* o, const char* v) { return SetNumber(v, 1, 3600, &o->limits.idleTimeoutSeconds); },
     "a number of seconds from 1 to 3600"},
    {"--session-idle",
     [](Options* o, const char* v) {
       return SetNumber(v, 1, 86400, &o->service.sessionIdleSeconds);
     },
     "a number of seconds from 1 to 86400"},
};

int BadOption(const std::string& problem) {
  std::fprintf(stderr, "nolvad: %s (see nolvad --help)\n", problem.c_str());
  return 2;
}

// 0 to go on, else the exit status.
int Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return -1;
    }
    const Flag* flag = nullptr;
    for (const Flag& candidate : kFlags)
      if (arg == candidate.name) flag = &candidate;
    if (!flag) return BadOption("unknown option " + arg);
    if (i + 1 >= argc) return BadOption(arg + " needs " + flag->expects);
    if (!flag->set(options, argv[++i]))
      return BadOption(arg + " needs " + flag->expects + ", not '" + argv[i] + "'");
  }
  if (!options->tlsListen.empty() && (options->certificate.empty() || options->key.empty()))
    return BadOption("--tls-listen needs --tls-cert FILE and --tls-key FILE");
  if (!options->redirectListen.empty() && options->tlsListen.empty())
    return BadOption("--redirect-listen needs --tls-listen");
  if (options->listen.empty() && options->tlsListen.empty()) {
    Endpoint fallback;
    ParseEndpoint("127.0.0.1:8080", &fallback);
    options->listen.push_back(fallback);
  }
  return 0;
}

int Serve(const Options& options) {
  // Signals are taken by this thread alone, with sigwait, once all runs.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string certificate;
  std::string key;
  if (!options.tlsListen.empty()) {
    const std::string problem =
        LoadOrMakeCertificate(options.certificate, options.key, &certificate, &key);
    if (!problem.empty()) {
      std::fprintf(stderr, "nolvad: %s\n", problem.c_str());
      return 1;
    }
  }
  Service service(options.service);
  Server server(&service, options.limits);
  std::string error;
  std::vector<std::string> lines;
  for (const Endpoint& at : options.listen) {
    const std::string url = server.ListenHttp(at, &error);
    if (url.empty()) break;
    lines.push_back("listening on " + url);
  }
  std::uint16_t httpsPort = 0;
  for (const Endpoint& at : options.tlsListen) {
    if (!error.empty()) break;
    const std::string url = server.ListenHttps(at, certificate, key, &error);
    if (url.empty()) break;
    lines.push_back("listening on " + url);
    if (!httpsPort)
      httpsPort = static_cast<std::uint16_t>(std::atoi(url.c_str() + url.rfind(':') + 1));
  }
  for (const Endpoint& at : options.redirectListen) {
    if (!error.empty()) break;
    const std::string url = server.ListenRedirect(at, httpsPort, &error);
    if (url.empty()) break;
    lines.push_back("redirecting " + url + " to https port " + std::to_string(httpsPort));
  }
  explicit_bzero(key.data(), key.size());
  if (!error.empty()) {
    std::fprintf(stderr, "nolvad: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& line : lines)
    std::printf("nolvad: %s\n", line.c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stop, &signal);
  server.Stop();
  service.EndSessions();
  std::printf("nolvad: stopped\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace nolvad

int main(int argc, char** argv) {
  // A firmware image's buffer goes back to the kernel when it is freed.
  // glibc's threshold would otherwise rise to the largest block freed, and
  // each pool thread's arena would keep an image's worth of memory for good.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  nolvad::Options options;
  const int parsed = nolvad::Parse(argc, argv, &options);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  return nolvad::Serve(options);
}
