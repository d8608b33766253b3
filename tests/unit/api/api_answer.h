#pragma once

#include <gtest/gtest.h>

#include <string>

#include "api/http_api.h"
#include "core/json_value.h"

namespace zennic::testing {

// The token the route tests give their RuntimeState, so their requests pass the session gate.
inline constexpr char kSessionToken[] = "0123456789abcdef0123456789abcdef";

// What a route answered: its status and its parsed JSON envelope.
struct ApiAnswer {
  int status = 0;
  JsonValue body;
  std::string Code() const { return body.GetString("code", ""); }
};

// One POST through every gate of `api`, signed in with kSessionToken.
inline ApiAnswer PostWithSession(HttpApi& api, const std::string& path,
                                 const std::string& body = "") {
  HttpRequest request;
  request.method = "POST";
  request.path = path;
  request.headers["Cookie"] = std::string("zennic_session=") + kSessionToken;
  request.body = body;
  HttpResponse response;
  EXPECT_TRUE(api.HandleRequest(request, &response)) << path;
  ApiAnswer answer{response.status, {}};
  EXPECT_TRUE(JsonValue::Parse(response.body, &answer.body, nullptr)) << response.body;
  return answer;
}

}  // namespace zennic::testing
