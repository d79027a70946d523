#include "management/credentials.h"
#include "store/device_manager.h"
#include "store/record_file.h"

namespace nolva {
namespace {

struct Service {
  std::int32_t enabled;
  std::int32_t port;
};

Service Primary(const ServiceSettings& settings) {
  return {settings.primaryEnabled, settings.primaryPort};
}
Service Secondary(const ServiceSettings& settings) {
  return {settings.secondaryEnabled, settings.secondaryPort};
}
Service Ocp(const OcpSettings& settings) {
  return {settings.ocpEnabled, settings.ocpPort};
}

// Ports are whole words: no range, no mask. A disabled service clashes with nothing.
bool Clash(Service a, Service b) {
  return a.enabled != 0 && b.enabled != 0 && a.port == b.port;
}

// A service record to store is checked against itself and the stored OCP record,
// never against the service record it replaces.
bool ServiceRecordClashes(const ServiceSettings& fresh, const OcpSettings& stored) {
  return Clash(Primary(fresh), Secondary(fresh)) || Clash(Primary(fresh), Ocp(stored)) ||
         Clash(Secondary(fresh), Ocp(stored));
}

// An OCP record to store is checked only across the two records.
bool OcpRecordClashes(const OcpSettings& fresh, const ServiceSettings& stored) {
  return Clash(Ocp(fresh), Primary(stored)) || Clash(Ocp(fresh), Secondary(stored));
}

StatusCode Verdict(std::int32_t result, StatusCode failure) {
  return result == 0 ? STATUS_OK : failure;
}

}  // namespace

StatusCode DeviceManager::GetNetworkSettings(const char16_t* userName, const char16_t* password,
                                             NetworkSettings* settings) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  return Verdict(LoadNetworkSettings(settings), STATUS_GET_NETWORK_FAILED);
}

StatusCode DeviceManager::SetNetworkSettings(const char16_t* userName, const char16_t* password,
                                             const NetworkSettings* settings) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  return Verdict(SaveNetworkSettings(settings), STATUS_SET_NETWORK_FAILED);
}

StatusCode DeviceManager::GetServiceSettings(const char16_t* userName, const char16_t* password,
                                             ServiceSettings* settings) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  return Verdict(LoadServiceSettings(settings), STATUS_GET_SERVICE_FAILED);
}

// The check and the store are one step under the mutex, so a concurrent
// SetOcpSettings can never store a clashing record between them.
StatusCode DeviceManager::SetServiceSettings(const char16_t* userName, const char16_t* password,
                                             const ServiceSettings* settings) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  if (!settings) return STATUS_SET_SERVICE_FAILED;
  const HeldMutex held = Hold();
  OcpSettings stored = {};
  if (LoadRecordFile(held, kOcpSettingsFile, &stored) != 0) return STATUS_REFUSED;
  if (ServiceRecordClashes(*settings, stored)) return STATUS_REFUSED;
  return Verdict(StoreRecordFile(held, kServiceSettingsFile, settings), STATUS_SET_SERVICE_FAILED);
}

StatusCode DeviceManager::GetOcpSettings(const char16_t* userName, const char16_t* password,
                                         OcpSettings* settings) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  return Verdict(LoadOcpSettings(settings), STATUS_GET_OCP_FAILED);
}

StatusCode DeviceManager::SetOcpSettings(const char16_t* userName, const char16_t* password,
                                         const OcpSettings* settings) {
  Credentials caller(userName, password);
  if (!AdmitAdmin(*this, caller)) return STATUS_AUTH_FAILED;
  if (!settings) return STATUS_SET_OCP_FAILED;
  const HeldMutex held = Hold();
  ServiceSettings stored = {};
  if (LoadRecordFile(held, kServiceSettingsFile, &stored) != 0) return STATUS_REFUSED;
  if (OcpRecordClashes(*settings, stored)) return STATUS_REFUSED;
  return Verdict(StoreRecordFile(held, kOcpSettingsFile, settings), STATUS_SET_OCP_FAILED);
}

}  // namespace nolva
