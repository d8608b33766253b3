#include "server/json_envelope.h"

#include <gtest/gtest.h>

namespace zennic {
namespace {

TEST(JsonEnvelope, AFailureListsItsMembersInKeyOrder) {
  HttpResponse response = MakeJsonErrorResponse(400, "invalid_http_request",
                                                "Missing HTTP request line", JsonValue::MakeObject());
  EXPECT_EQ(response.status, 400);
  EXPECT_EQ(response.headers, (std::map<std::string, std::string>{
                                  {"Content-Type", "application/json; charset=utf-8"}}));
  EXPECT_EQ(response.body,
            "{\n  \"code\": \"invalid_http_request\",\n  \"details\": {},\n"
            "  \"error\": \"Missing HTTP request line\",\n  \"ok\": false\n}");
}

TEST(JsonEnvelope, ASuccessOverwritesOkAndANonObjectBecomesOnlyOk) {
  JsonValue object = JsonValue::MakeObject();
  object["ok"] = false;
  object["a"] = 1.0;
  HttpResponse response = MakeJsonResponse(object);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "{\n  \"a\": 1,\n  \"ok\": true\n}");
  EXPECT_EQ(MakeJsonResponse(JsonValue("text")).body, "{\n  \"ok\": true\n}");
}

TEST(JsonEnvelope, BodiesMustBeObjects) {
  HttpRequest request;
  JsonValue out;
  std::string error;
  EXPECT_TRUE(ParseJsonBody(request, &out, &error));
  EXPECT_EQ(out, JsonValue::MakeObject());

  for (const char* not_an_object : {"[1]", " \n\"text\"", "x"}) {
    request.body = not_an_object;
    EXPECT_FALSE(ParseJsonBody(request, &out, &error));
    EXPECT_EQ(error, "JSON body must be an object") << not_an_object;
  }
  request.body = "{\"name\": \"\xFF\"}";
  EXPECT_FALSE(ParseJsonBody(request, &out, &error));
  EXPECT_EQ(error, "Invalid UTF-8 in string");
  std::string many = "{\"list\": [0";
  for (int i = 0; i < 20000; ++i) many += ",0";
  request.body = many + "]}";
  EXPECT_FALSE(ParseJsonBody(request, &out, &error));
  EXPECT_EQ(error, "JSON document holds too many values");

  request.body = "{";
  EXPECT_FALSE(ParseJsonBody(request, &out, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error, "JSON body must be an object");

  request.body = " {\"k\": [true]} ";
  ASSERT_TRUE(ParseJsonBody(request, &out, &error));
  EXPECT_TRUE(out.Find("k") != nullptr);
  EXPECT_FALSE(ParseJsonBody(request, nullptr, &error));
  EXPECT_EQ(error, "JSON body output pointer is null");
}

}  // namespace
}  // namespace zennic
