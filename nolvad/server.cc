#include "nolvad/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "nolvad/errors.h"

namespace nolvad {
namespace {

using Clock = std::chrono::steady_clock;

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return "";
  char text[INET6_ADDRSTRLEN] = "";
  const sockaddr* address = info->client_addr;
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else if (address->sa_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
              sizeof text);
  return text;
}

MHD_Result AddHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<Headers*>(cls)->Add(key, value ? value : "");
  return MHD_YES;
}

MHD_Result AddArgument(void* cls, MHD_ValueKind, const char* key, const char* value) {
  std::string* query = static_cast<std::string*>(cls);
  if (!query->empty()) query->push_back('&');
  *query += key;
  if (value) *query += std::string("=") + value;
  return MHD_YES;
}

// The path and query reach the service as sent, still percent-encoded, so
// that an encoded '/' stays inside its segment.
size_t KeepEscapes(void*, MHD_Connection*, char* text) {
  return std::strlen(text);
}

MHD_Result Queue(MHD_Connection* connection, const Response& answer) {
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  for (const auto& header : answer.headers)
    MHD_add_response_header(response, header.first.c_str(), header.second.c_str());
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

}  // namespace

// One request on a connection, from its first call to its end.
struct Server::Exchange {
  Request request;
  Admission admission;
  Clock::time_point start = Clock::now();
  int status = 0;
  // A firmware update runs on a thread of its own while its connection is
  // suspended, so that a pool thread keeps serving its other connections.
  std::thread update;
  std::atomic<bool> updated{false};
  Response answer;
};

bool ParseEndpoint(const std::string& text, Endpoint* endpoint) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 >= text.size() || colon + 6 < text.size())
    return false;
  unsigned port = 0;
  for (char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port > 65535) return false;
  std::string host = text.substr(0, colon);
  Endpoint parsed;
  parsed.text = text;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address.sin6_addr) != 1)
      return false;
    std::memcpy(&parsed.address, &address, sizeof address);
    parsed.length = sizeof address;
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return false;
    std::memcpy(&parsed.address, &address, sizeof address);
    parsed.length = sizeof address;
  }
  *endpoint = parsed;
  return true;
}

namespace {

MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char* uploadData, size_t* uploadSize, void** context) {
  auto* listener = static_cast<Server::Listener*>(cls);
  auto* exchange = static_cast<Server::Exchange*>(*context);
  if (!exchange) {
    listener->deadlines->HeadersArrived(connection);
    exchange = new Server::Exchange;
    *context = exchange;
    listener->running.fetch_add(1);
    Request& request = exchange->request;
    request.method = method;
    request.path = url;
    request.tls = listener->tls;
    request.client = ClientAddress(connection);
    MHD_get_connection_values(connection, MHD_HEADER_KIND, AddHeader, &request.headers);
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, AddArgument, &request.query);
    if (listener->redirectTo) {
      const std::string* host = request.headers.Find("host");
      std::string name = host ? *host : "localhost";
      if (name.empty() || name.front() != '[')
        name = name.substr(0, name.find(':'));
      else
        name = name.substr(0, name.find(']') + 1);
      Response moved{308, {}, ""};
      moved.Header("Location", "https://" + name + ":" + std::to_string(listener->redirectTo) +
                                   request.path + (request.query.empty() ? "" : "?") +
                                   request.query);
      AddCommonHeaders(&moved, false);
      exchange->status = 308;
      return Queue(connection, moved);
    }
    exchange->admission = listener->server->service()->Admit(request);
    if (exchange->admission.early) {
      const Response answer = listener->server->service()->Finish(exchange->admission, request);
      exchange->status = answer.status;
      return Queue(connection, answer);
    }
    if (exchange->admission.bodyLimit > kMaxJsonBody)
      request.body.reserve(exchange->admission.bodyLimit);
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    std::string& body = exchange->request.body;
    // One byte past the limit is kept, so that the service sees the body
    // was too long; the rest is dropped unread.
    const std::size_t room = exchange->admission.bodyLimit + 1 - body.size();
    body.append(uploadData, *uploadSize < room ? *uploadSize : room);
    *uploadSize = 0;
    return MHD_YES;
  }
  if (exchange->status != 0) return MHD_YES;
  Service* service = listener->server->service();
  if (exchange->updated.load()) {
    exchange->status = exchange->answer.status;
    return Queue(connection, exchange->answer);
  }
  if (exchange->admission.update.Held()) {
    MHD_suspend_connection(connection);
    exchange->update = std::thread([service, connection, exchange] {
      exchange->answer = service->Finish(exchange->admission, exchange->request);
      exchange->updated.store(true);
      MHD_resume_connection(connection);
    });
    return MHD_YES;
  }
  const Response answer = service->Finish(exchange->admission, exchange->request);
  exchange->status = answer.status;
  return Queue(connection, answer);
}

void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                 MHD_RequestTerminationCode) {
  auto* listener = static_cast<Server::Listener*>(cls);
  auto* exchange = static_cast<Server::Exchange*>(*context);
  listener->deadlines->Answered(connection);
  if (!exchange) return;
  *context = nullptr;
  // A request cut off before its answer ran no operation and is logged as 0.
  listener->server->log()->Request(exchange->request.client, exchange->request.method,
                                   exchange->request.path, exchange->status,
                                   Clock::now() - exchange->start);
  if (exchange->update.joinable()) exchange->update.join();
  // A body may hold a password: it does not outlive its request.
  explicit_bzero(exchange->request.body.data(), exchange->request.body.size());
  delete exchange;
  listener->running.fetch_sub(1);
}

void OnConnection(void* cls, MHD_Connection* connection, void**,
                  MHD_ConnectionNotificationCode code) {
  auto* listener = static_cast<Server::Listener*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
    listener->deadlines->Closed(connection);
    return;
  }
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  if (info) listener->deadlines->Opened(connection, info->connect_fd);
}

}  // namespace

HeaderDeadlines::HeaderDeadlines(std::chrono::seconds limit)
    : limit_(limit), watcher_([this] { Watch(); }) {}

HeaderDeadlines::~HeaderDeadlines() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watcher_.join();
}

void HeaderDeadlines::Opened(MHD_Connection* connection, int socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_[connection] = Waiting{socket, Clock::now(), true};
}

void HeaderDeadlines::HeadersArrived(MHD_Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(connection);
  if (found != connections_.end()) found->second.waiting = false;
}

void HeaderDeadlines::Answered(MHD_Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = connections_.find(connection);
  if (found == connections_.end()) return;
  found->second.waiting = true;
  found->second.since = Clock::now();
}

void HeaderDeadlines::Closed(MHD_Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  connections_.erase(connection);
}

void HeaderDeadlines::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(1));
    const Clock::time_point now = Clock::now();
    for (auto& [connection, state] : connections_) {
      if (!state.waiting || now - state.since < limit_) continue;
      // The engine sees the end of the stream and closes the connection.
      shutdown(state.socket, SHUT_RDWR);
      state.waiting = false;
    }
  }
}

Server::~Server() {
  Stop();
}

std::string Server::Start(const Endpoint& at, Listener* listener, const std::string& certificate,
                          const std::string& key, std::string* error) {
  listener->server = this;
  listener->deadlines = &deadlines_;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME;
  if (at.address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
  if (listener->tls) flags |= MHD_USE_TLS;
  MHD_OptionItem tls[] = {
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(key.c_str())},
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(certificate.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  if (!listener->tls) tls[0].option = MHD_OPTION_END;
  listener->daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &OnRequest, listener, MHD_OPTION_SOCK_ADDR, &at.address,
      MHD_OPTION_CONNECTION_LIMIT, limits_.maxConnections, MHD_OPTION_CONNECTION_TIMEOUT,
      limits_.idleTimeoutSeconds, MHD_OPTION_THREAD_POOL_SIZE, limits_.threads,
      MHD_OPTION_NOTIFY_COMPLETED, &OnCompleted, listener, MHD_OPTION_NOTIFY_CONNECTION,
      &OnConnection, listener, MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes, nullptr,
      MHD_OPTION_ARRAY, tls, MHD_OPTION_END);
  if (!listener->daemon) {
    *error = "cannot listen on " + at.text;
    delete listener;
    return "";
  }
  listeners_.push_back(listener);
  const MHD_DaemonInfo* info = MHD_get_daemon_info(listener->daemon, MHD_DAEMON_INFO_BIND_PORT);
  const std::string host = at.text.substr(0, at.text.rfind(':'));
  return std::string(listener->tls ? "https://" : "http://") + host + ":" +
         std::to_string(info ? info->port : 0);
}

std::string Server::ListenHttp(const Endpoint& at, std::string* error) {
  return Start(at, new Listener, "", "", error);
}

std::string Server::ListenHttps(const Endpoint& at, const std::string& certificate,
                                const std::string& key, std::string* error) {
  auto* listener = new Listener;
  listener->tls = true;
  return Start(at, listener, certificate, key, error);
}

std::string Server::ListenRedirect(const Endpoint& at, std::uint16_t httpsPort,
                                   std::string* error) {
  auto* listener = new Listener;
  listener->redirectTo = httpsPort;
  return Start(at, listener, "", "", error);
}

void Server::Stop() {
  // A listening socket handed back is closed only once its daemon has
  // stopped: until then a pool thread may still be using it.
  std::vector<MHD_socket> quiesced;
  for (Listener* listener : listeners_) {
    const MHD_socket socket = MHD_quiesce_daemon(listener->daemon);
    if (socket != MHD_INVALID_SOCKET) quiesced.push_back(socket);
  }
  // Running requests finish, a firmware update included; a stuck client is
  // cut off by the connection timeout.
  const auto deadline = Clock::now() + std::chrono::minutes(10);
  for (Listener* listener : listeners_)
    while (listener->running.load() > 0 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (Listener* listener : listeners_) {
    MHD_stop_daemon(listener->daemon);
    delete listener;
  }
  listeners_.clear();
  for (const MHD_socket socket : quiesced)
    close(socket);
  log_.Flush();
}

}  // namespace nolvad
