// The libmicrohttpd glue: it moves bytes between the connections and the
// Service, and nothing else.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "nolvad/service.h"

struct MHD_Daemon;

namespace nolvad {

struct Endpoint {
  sockaddr_storage address{};
  socklen_t length = 0;
  std::string text;  // as given: "127.0.0.1:8080"
};

// "127.0.0.1:8080" or "[::1]:8080"; false for anything else.
bool ParseEndpoint(const std::string& text, Endpoint* endpoint);

struct ListenerLimits {
  unsigned maxConnections = 32;
  unsigned idleTimeoutSeconds = 30;
  unsigned threads = 4;
};

class Server {
 public:
  Server(Service* service, ListenerLimits limits) : service_(service), limits_(limits) {}
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Each returns the URL it listens on, or "" with `error` set.
  std::string ListenHttp(const Endpoint& at, std::string* error);
  std::string ListenHttps(const Endpoint& at, const std::string& certificate,
                          const std::string& key, std::string* error);
  // Plain HTTP answering every request with a redirect to `httpsPort`.
  std::string ListenRedirect(const Endpoint& at, std::uint16_t httpsPort, std::string* error);

  // Stops accepting, lets running requests finish, then closes everything.
  void Stop();
  Service* service() const { return service_; }

  struct Listener;
  struct Exchange;

 private:
  std::string Start(const Endpoint& at, Listener* listener, const std::string& certificate,
                    const std::string& key, std::string* error);

  Service* service_;
  const ListenerLimits limits_;
  std::vector<Listener*> listeners_;
};

struct Server::Listener {
  Server* server = nullptr;
  MHD_Daemon* daemon = nullptr;
  bool tls = false;
  std::uint16_t redirectTo = 0;  // nonzero: a redirect listener
  std::atomic<int> running{0};   // requests between their first byte and their end
};

}  // namespace nolvad
