// The libmicrohttpd glue: it moves bytes between the connections and the
// Service, and nothing else.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "nolvad/access_log.h"
#include "nolvad/service.h"

struct MHD_Connection;
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

// Cuts off a connection whose request line and headers have not all arrived
// within `limit` of its opening or of its previous answer. The engine's own
// timeout counts from the last byte received, so a client sending a byte
// now and then would keep its slot for ever.
class HeaderDeadlines {
 public:
  explicit HeaderDeadlines(std::chrono::seconds limit);
  ~HeaderDeadlines();
  HeaderDeadlines(const HeaderDeadlines&) = delete;
  HeaderDeadlines& operator=(const HeaderDeadlines&) = delete;

  void Opened(MHD_Connection* connection, int socket);
  void HeadersArrived(MHD_Connection* connection);
  void Answered(MHD_Connection* connection);
  // Called before the engine closes the socket: it is never shut down after.
  void Closed(MHD_Connection* connection);

 private:
  using Clock = std::chrono::steady_clock;
  struct Waiting {
    int socket = -1;
    Clock::time_point since;
    bool waiting = true;  // for a request's headers
  };
  void Watch();

  const std::chrono::seconds limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<MHD_Connection*, Waiting> connections_;
  std::thread watcher_;
};

class Server {
 public:
  Server(Service* service, ListenerLimits limits)
      : service_(service),
        limits_(limits),
        deadlines_(std::chrono::seconds(limits.idleTimeoutSeconds)) {}
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
  AccessLog* log() { return &log_; }

  struct Listener;
  struct Exchange;

 private:
  std::string Start(const Endpoint& at, Listener* listener, const std::string& certificate,
                    const std::string& key, std::string* error);

  Service* service_;
  const ListenerLimits limits_;
  AccessLog log_;
  std::vector<Listener*> listeners_;
  HeaderDeadlines deadlines_;
};

struct Server::Listener {
  Server* server = nullptr;
  HeaderDeadlines* deadlines = nullptr;
  MHD_Daemon* daemon = nullptr;
  bool tls = false;
  std::uint16_t redirectTo = 0;  // nonzero: a redirect listener
  std::atomic<int> running{0};   // requests between their first byte and their end
};

}  // namespace nolvad
