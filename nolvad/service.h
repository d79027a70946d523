// The service: one DeviceManager for the process and what the service keeps
// beside it (sessions, failed sign-ins, the running update). A request is
// handled in two steps so that an upload is refused before its body is
// read: Admit with the request line and headers, Finish with the body.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "front/front.h"
#include "nolvad/http.h"
#include "nolvad/sessions.h"
#include "nolvad/throttle.h"
#include "store/device_manager.h"

namespace nolvad {

inline constexpr std::int64_t kDefaultMaxImage = 32 << 20;
inline constexpr int kDefaultSessionIdleSeconds = 900;

struct ServiceOptions {
  std::int64_t maxImage = kDefaultMaxImage;
  int sessionIdleSeconds = kDefaultSessionIdleSeconds;
};

struct Route;

// Who a request runs as.
struct Caller {
  nolva::front::Credentials credentials;
  std::string user;   // Latin-1
  std::string token;  // the session's; empty for Basic credentials
  bool basic = false;
  bool deferred = false;  // Basic credentials that only the operation can judge
};

// Holds the one firmware update that may run; released when it goes.
class UpdateSlot {
 public:
  UpdateSlot() = default;
  explicit UpdateSlot(std::atomic<bool>* busy) : busy_(busy) {}
  UpdateSlot(UpdateSlot&& other) noexcept : busy_(other.busy_) { other.busy_ = nullptr; }
  UpdateSlot& operator=(UpdateSlot&& other) noexcept;
  UpdateSlot(const UpdateSlot&) = delete;
  UpdateSlot& operator=(const UpdateSlot&) = delete;
  ~UpdateSlot() { Release(); }
  void Release();
  bool Held() const { return busy_ != nullptr; }

 private:
  std::atomic<bool>* busy_ = nullptr;
};

// What the request line and headers came to.
struct Admission {
  // An answer from the request line and headers alone (a refusal, or a
  // console page): when set, no body is read.
  std::optional<Response> early;
  std::size_t bodyLimit = 0;  // the longest body the request may have
  const Route* route = nullptr;
  // The path's {name} segments, percent-decoded to Latin-1; false when one
  // cannot be (refused with the body, in its turn).
  std::vector<std::string> names;
  bool namesReadable = true;
  Caller caller;
  UpdateSlot update;
};

class Service {
 public:
  explicit Service(ServiceOptions options);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  Admission Admit(const Request& request);
  // The answer to an admitted request; `request.body` holds its whole body.
  Response Finish(Admission& admission, const Request& request);
  // Both steps at once, for callers that hold the whole request.
  Response Handle(const Request& request);

  // Ends every session and wipes its credentials.
  void EndSessions() { sessions_.EndAll(); }

  // The handlers, one per route.
  struct Call;
  Response Health(Call& call);
  Response OpenApi(Call& call);
  Response OpenSession(Call& call);
  Response ShowSession(Call& call);
  Response CloseSession(Call& call);
  Response CloseAllSessions(Call& call);
  Response Device(Call& call);
  Response Mac(Call& call);
  Response Firmware(Call& call);
  Response Usb(Call& call);
  Response UpdateFirmware(Call& call);
  Response Reboot(Call& call);
  Response FactoryReset(Call& call);
  Response ListUsers(Call& call);
  Response AddUser(Call& call);
  Response DeleteUser(Call& call);
  Response ChangePassword(Call& call);
  Response GetNetwork(Call& call);
  Response PutNetwork(Call& call);
  Response GetService(Call& call);
  Response PutService(Call& call);
  Response GetOcp(Call& call);
  Response PutOcp(Call& call);

 private:
  std::optional<Response> CheckCredentials(const Request& request, Admission* admission);
  std::optional<Response> CheckHeaders(const Request& request, Admission* admission);
  // The body and the path's names, then the handler.
  Response Run(Call& call);
  // The answer to a failed operation; a refused caller ends its session.
  Response Failed(Call& call, nolva::StatusCode status, const std::string& message);
  // The account names as listed, or the failed operation's answer.
  std::optional<Response> ListNames(Call& call, std::vector<std::string>* names);
  // 404 unless the path's account is listed.
  std::optional<Response> RequireListed(Call& call);
  template <typename Record, typename Codec>
  std::optional<Response> LoadRecord(Call& call, const Codec& codec, Record* record);
  template <typename Record, typename Codec>
  Response ReadRecord(Call& call, const Codec& codec);
  template <typename Record, typename Codec>
  Response WriteRecord(Call& call, const Codec& codec);

  const ServiceOptions options_;
  nolva::DeviceManager manager_;
  SessionTable sessions_;
  Throttle throttle_;
  std::atomic<bool> updating_{false};
  // The read, check and store of one settings write are one step.
  std::mutex writing_;
};

}  // namespace nolvad
