// nolvad's request handling, without sockets. The input is a request as
// text: "METHOD PATH[?QUERY]", header lines "Name: value", an empty line,
// then the body. Whatever it holds, the answer is one the service may give:
// a known status, the headers every answer carries, an error body with its
// word for a refusal, and a refusal reaches neither the firmware partitions
// nor the reboot script.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "board/control/board_control.h"
#include "board/control/process_board.h"
#include "fuzz/fuzz_check.h"
#include "nolvad/errors.h"
#include "nolvad/service.h"

namespace {

using nolvad::Request;
using nolvad::Response;

std::string_view Line(std::string_view* rest) {
  const std::size_t end = rest->find('\n');
  const std::string_view line = rest->substr(0, end);
  rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
  return line;
}

Request Parse(std::string_view text) {
  Request request;
  request.client = "127.0.0.1";
  std::string_view first = Line(&text);
  const std::size_t space = first.find(' ');
  request.method = std::string(first.substr(0, space));
  const std::string_view target =
      space == std::string_view::npos ? std::string_view() : first.substr(space + 1);
  const std::size_t question = target.find('?');
  request.path = std::string(target.substr(0, question));
  if (question != std::string_view::npos) request.query = std::string(target.substr(question + 1));
  for (std::string_view line = Line(&text); !line.empty(); line = Line(&text)) {
    const std::size_t colon = line.find(": ");
    if (colon != std::string_view::npos)
      request.headers.Add(line.substr(0, colon), line.substr(colon + 2));
  }
  request.body = std::string(text);
  return request;
}

bool ReachedDevices() {
  for (const std::string& line : nolva::board::LogLines(nolva::board::BoardDirectory()))
    for (const char* reached : {"/dev/mtd", "/tmp/.nolva_reboot"})
      if (line.find(reached) != std::string::npos) return true;
  return false;
}

bool IsErrorWord(const std::string& word, int status) {
  for (int error = 0; error <= static_cast<int>(nolvad::Error::kOperationFailed); ++error) {
    const nolvad::ErrorRow& row = nolvad::RowOf(static_cast<nolvad::Error>(error));
    if (word == row.word) return row.status == status;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nolva::board::StartBoard();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Request request = Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  nolva::board::WipeBoard();
  nolvad::ServiceOptions options;
  options.maxImage = 1 << 16;
  nolvad::Service service(options);
  const Response answer = service.Handle(request);

  FUZZ_CHECK(answer.status >= 200 && answer.status <= 500);
  FUZZ_CHECK(answer.Find("Cache-Control") && *answer.Find("Cache-Control") == "no-store");
  FUZZ_CHECK(answer.Find("X-Content-Type-Options") && answer.Find("Referrer-Policy"));
  if (answer.status < 400) return 0;
  FUZZ_CHECK(!ReachedDevices());
  const nlohmann::json body = nlohmann::json::parse(answer.body, nullptr, false);
  FUZZ_CHECK(body.is_object() && body.contains("error") && body["error"].is_string());
  FUZZ_CHECK(IsErrorWord(body["error"].get<std::string>(), answer.status));
  if (answer.status == 401) FUZZ_CHECK(answer.Find("WWW-Authenticate") != nullptr);
  return 0;
}
