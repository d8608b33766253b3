#include "core/json_value.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>

namespace zennic {
namespace {

std::string ParseError(std::string_view text) {
  JsonValue value;
  std::string error;
  EXPECT_FALSE(JsonValue::Parse(text, &value, &error)) << text;
  return error;
}

JsonValue ParseOk(std::string_view text) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(JsonValue::Parse(text, &value, &error)) << text << ": " << error;
  return value;
}

TEST(JsonParse, EveryFailureHasItsFixedMessage) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "Unexpected end of JSON input"},
      {" \t\n\r\v\f", "Unexpected end of JSON input"},
      {"5 x", "Unexpected trailing characters after JSON value"},
      {"\xEF\xBB\xBF{}", "Expected number"},
      {"[1,]", "Expected number"},
      {"[,1]", "Expected number"},
      {"[1 2]", "Expected ',' or ']' in array"},
      {"[1", "Unexpected end while parsing array"},
      {"[", "Unexpected end while parsing array"},
      {"[1,", "Unexpected end while parsing array"},
      {"{\"a\":1,}", "Expected string opening quote"},
      {"{a:1}", "Expected string opening quote"},
      {"{\"a\" 1}", "Expected ':' after object key"},
      {"{\"a\"", "Expected ':' after object key"},
      {"{\"a\":1 \"b\":2}", "Expected ',' or '}' in object"},
      {"{\"a\":1", "Unexpected end while parsing object"},
      {"{", "Unexpected end while parsing object"},
      {"{\"a\":1,", "Unexpected end while parsing object"},
      {"{\"a\":", "Unexpected end of JSON input"},
      {"\"ab\\u00", "Incomplete unicode escape"},
      {"\"\\u00G1\"", "Invalid unicode escape sequence"},
      {"\"\\x\"", "Unsupported escape sequence"},
      {"\"abc", "Unexpected end while parsing string"},
      {"\"abc\\", "Unexpected end in escape sequence"},
      {"tru", "Invalid boolean value"},
      {"fals", "Invalid boolean value"},
      {"nul", "Invalid null value"},
      {"nan", "Invalid null value"},
      {"NaN", "Expected number"},
      {"Infinity", "Expected number"},
      {"x", "Expected number"},
      {"-", "Invalid number token"},
      {"1e", "Invalid number token"},
      {"1.2.3", "Invalid number token"},
      {"1-2", "Invalid number token"},
      {"0x10", "Unexpected trailing characters after JSON value"},
      {"truex", "Unexpected trailing characters after JSON value"},
      {"[truex]", "Expected ',' or ']' in array"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseError(c.text), c.message) << "input: " << c.text;
  }
}

TEST(JsonParse, NullOutputIsReportedAndNullErrorIsTolerated) {
  std::string error;
  EXPECT_FALSE(JsonValue::Parse("1", nullptr, &error));
  EXPECT_EQ(error, "Parse output value is null");
  JsonValue value;
  EXPECT_FALSE(JsonValue::Parse("[", &value, nullptr));
}

TEST(JsonParse, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  EXPECT_EQ(ParseError(std::string(200000, '[')), "JSON nesting is too deep");
  EXPECT_EQ(ParseError(std::string(200000, '{')), "Expected string opening quote");
  std::string deep_objects;
  for (int i = 0; i < 100000; ++i) deep_objects += "{\"a\":";
  EXPECT_EQ(ParseError(deep_objects), "JSON nesting is too deep");

  std::string at_limit = std::string(JsonValue::kMaxNestingDepth, '[') +
                         std::string(JsonValue::kMaxNestingDepth, ']');
  ParseOk(at_limit);
  std::string over_limit = "[" + at_limit + "]";
  EXPECT_EQ(ParseError(over_limit), "JSON nesting is too deep");
}

TEST(JsonParse, NumbersFollowStrtod) {
  EXPECT_EQ(ParseOk(" 5 ").number_value, 5);
  EXPECT_EQ(ParseOk("+1").number_value, 1);
  EXPECT_EQ(ParseOk("007").number_value, 7);
  EXPECT_EQ(ParseOk(".5").number_value, 0.5);
  EXPECT_EQ(ParseOk("5.").number_value, 5);
  EXPECT_EQ(ParseOk("-2.5e3").number_value, -2500);
  JsonValue huge = ParseOk("1e999");
  EXPECT_TRUE(std::isinf(huge.number_value) && huge.number_value > 0);
  EXPECT_EQ(ParseOk("-1e999").number_value, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ParseOk("0.00001e-999").number_value, 0.0);
  EXPECT_TRUE(std::signbit(ParseOk("-1e-999").number_value));
  EXPECT_EQ(ParseOk("+.5e1").number_value, 5);
  for (const char* sign_twice : {"+-1", "++1", "-+1", "+"}) {
    EXPECT_EQ(ParseError(sign_twice), "Invalid number token") << sign_twice;
  }
}

TEST(JsonParse, NumbersReadAndWriteTheSameUnderACommaDecimalLocale) {
  // A desktop toolkit may have set the user's locale for the whole process.
  std::string previous = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the test set-up generates de_DE.UTF-8 (scripts/install-deps)";
  std::string written = JsonValue(0.75).Serialize(0);
  JsonValue read;
  bool parsed = JsonValue::Parse("0.75", &read, nullptr);
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(written, "0.75");
  EXPECT_TRUE(parsed);
  EXPECT_EQ(read.number_value, 0.75);
}

TEST(JsonParse, ADocumentHoldsOnlySoManyValuesForItsSize) {
  auto zeros = [](size_t count) {
    std::string text = "[0";
    for (size_t i = 1; i < count; ++i) text += ",0";
    return text + "]";
  };
  ParseOk(zeros(JsonValue::kMinValueBudget - 1));
  ParseOk(zeros(18000));  // a large document earns values beyond the floor
  EXPECT_EQ(ParseError(zeros(200000)), "JSON document holds too many values");

  JsonParseRules three;
  three.max_values = 3;
  JsonValue value;
  EXPECT_TRUE(JsonValue::Parse("[1,{}]", &value, nullptr, three));
  std::string error;
  EXPECT_FALSE(JsonValue::Parse("[1,{\"a\":2}]", &value, &error, three));
  EXPECT_EQ(error, "JSON document holds too many values");
}

TEST(JsonParse, StrictRulesRefuseMalformedUtf8AndRawControlBytes) {
  JsonParseRules strict;
  strict.require_utf8 = true;
  struct Case {
    std::string text;
    std::string error_or_value;
  };
  for (const Case& c : std::vector<Case>{
           {"\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", "caf\xC3\xA9 \xF0\x9F\x98\x80"},
           {"\"\\uD83D\\uDE00\"", "\xF0\x9F\x98\x80"},
           {"\"\\uD83D\\n\"", "Unpaired surrogate in unicode escape"},
           {"\"a\\uDE00\"", "Unpaired surrogate in unicode escape"},
           {"\"\\t\\u0001\"", "\t\x01"},
           {"\"a\xFF\"", "Invalid UTF-8 in string"},
           {"\"\xC0\x80\"", "Invalid UTF-8 in string"},
           {"\"\xE2\x82\\n\"", "Invalid UTF-8 in string"},
           {"\"\xED\xA0\xBD\"", "Invalid UTF-8 in string"},
           {"{\"k\xFE\": 1}", "Invalid UTF-8 in string"},
           {"\"a\tb\"", "Unescaped control character in string"},
           {"\"\n\"", "Unescaped control character in string"},
       }) {
    JsonValue value;
    std::string error;
    if (JsonValue::Parse(c.text, &value, &error, strict)) {
      EXPECT_EQ(value.string_value, c.error_or_value) << c.text;
    } else {
      EXPECT_EQ(error, c.error_or_value) << c.text;
    }
  }
}

TEST(JsonParse, ScalarsContainersAndDuplicateKeys) {
  EXPECT_EQ(ParseOk("true").type, JsonValue::Type::Bool);
  EXPECT_FALSE(ParseOk("false").bool_value);
  EXPECT_EQ(ParseOk("null").type, JsonValue::Type::Null);
  for (const char* empty : {"{}", "{ }"}) {
    JsonValue v = ParseOk(empty);
    EXPECT_EQ(v.type, JsonValue::Type::Object);
    EXPECT_TRUE(v.object_value.empty());
  }
  for (const char* empty : {"[]", "[ ]"}) {
    JsonValue v = ParseOk(empty);
    EXPECT_EQ(v.type, JsonValue::Type::Array);
    EXPECT_TRUE(v.array_value.empty());
  }
  JsonValue twice = ParseOk("{\"k\":1,\"k\":2}");
  ASSERT_EQ(twice.object_value.size(), 1u);
  EXPECT_EQ(twice.GetNumber("k", 0), 2);
}

TEST(JsonParse, StringEscapesBecomeUtf8) {
  EXPECT_EQ(ParseOk("\"\\u00e9\"").string_value, "\xC3\xA9");
  EXPECT_EQ(ParseOk("\"\\u20AC\"").string_value, "\xE2\x82\xAC");
  // A valid surrogate pair is one four-byte character.
  EXPECT_EQ(ParseOk("\"\\uD83D\\uDE00\"").string_value, "\xF0\x9F\x98\x80");
  // Lone surrogates stay three-byte sequences, unit by unit.
  EXPECT_EQ(ParseOk("\"\\uD83D\"").string_value, "\xED\xA0\xBD");
  EXPECT_EQ(ParseOk("\"\\uDE00\\uD83D\"").string_value, "\xED\xB8\x80\xED\xA0\xBD");
  EXPECT_EQ(ParseOk("\"\\uD83Dx\"").string_value, "\xED\xA0\xBDx");
  EXPECT_EQ(ParseOk("\"\\uD83D\\n\"").string_value, "\xED\xA0\xBD\n");
  EXPECT_EQ(ParseError("\"\\uD83D\\uZZZZ\""), "Invalid unicode escape sequence");
  EXPECT_EQ(ParseOk("\"\\u0000\"").string_value, std::string(1, '\0'));
  EXPECT_EQ(ParseOk("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"").string_value, "\"\\/\b\f\n\r\t");
  EXPECT_EQ(ParseOk("\"a\tb\xFF\"").string_value, "a\tb\xFF");
}

TEST(JsonSerialize, NumbersUseFifteenSignificantDigits) {
  EXPECT_EQ(JsonValue(0.1).Serialize(0), "0.1");
  EXPECT_EQ(JsonValue(100.0).Serialize(0), "100");
  EXPECT_EQ(JsonValue(3.0).Serialize(2), "3");
  EXPECT_EQ(JsonValue(1e15).Serialize(0), "1e+15");
  EXPECT_EQ(JsonValue(123456789012345.0).Serialize(0), "123456789012345");
  EXPECT_EQ(JsonValue(0.00001).Serialize(0), "1e-05");
  EXPECT_EQ(JsonValue(1e20).Serialize(0), "1e+20");
  EXPECT_EQ(JsonValue(-0.0).Serialize(0), "-0");
}

TEST(JsonSerialize, NonFiniteNumbersBecomeNullSoTheTextStaysParseable) {
  JsonValue doc = JsonValue::MakeObject();
  doc["inf"] = JsonValue(HUGE_VAL);
  doc["nan"] = JsonValue(std::nan(""));
  std::string text = doc.Serialize(0);
  EXPECT_EQ(text, "{\"inf\":null,\"nan\":null}");
  ParseOk(text);
}

TEST(JsonSerialize, StringsEscapeControlBytesOnly) {
  EXPECT_EQ(JsonValue(std::string("\x01\x22\x2F\x1B\x7F", 5)).Serialize(0),
            "\"\\u0001\\\"/\\u001B\x7F\"");
  EXPECT_EQ(JsonValue(std::string(1, '\0')).Serialize(0), "\"\\u0000\"");
  EXPECT_EQ(JsonValue("\xC3\xA9\\\b\f\n\r\t").Serialize(0), "\"\xC3\xA9\\\\\\b\\f\\n\\r\\t\"");
  // For another program, bytes that are not UTF-8 leave as a file name's text does.
  EXPECT_EQ(JsonValue("caf\xE9.wav").Serialize(0), "\"caf\xE9.wav\"");
  EXPECT_EQ(JsonValue("caf\xE9.wav").Serialize(0, /*utf8_only=*/true), "\"caf\xEE\xBF\xA9.wav\"");
}

TEST(JsonSerialize, ObjectsListKeysInByteOrderAndIndentByTwo) {
  JsonValue keys = JsonValue::MakeObject();
  for (const char* key : {"b", "B", "a_c", "ab"}) keys[key] = JsonValue(1.0);
  EXPECT_EQ(keys.Serialize(0), "{\"B\":1,\"a_c\":1,\"ab\":1,\"b\":1}");

  JsonValue doc = JsonValue::MakeObject();
  doc["a"] = JsonValue(1.0);
  doc["b"].PushBack(JsonValue(true));
  EXPECT_EQ(doc.Serialize(2), "{\n  \"a\": 1,\n  \"b\": [\n    true\n  ]\n}");
  EXPECT_EQ(doc.Serialize(0), "{\"a\":1,\"b\":[true]}");
  EXPECT_EQ(JsonValue::MakeObject().Serialize(2), "{}");
  EXPECT_EQ(JsonValue::MakeArray().Serialize(2), "[]");
}

TEST(JsonValueAccess, KindChangesResetPayloadsAndGettersNeverConvert) {
  JsonValue number(5.0);
  number["x"];
  EXPECT_EQ(number.type, JsonValue::Type::Object);
  EXPECT_EQ(number.number_value, 0);
  ASSERT_EQ(number.object_value.size(), 1u);
  EXPECT_EQ(number.Find("x")->type, JsonValue::Type::Null);

  JsonValue object = JsonValue::MakeObject();
  object["a"] = JsonValue("text");
  object.PushBack(JsonValue(1.0));
  EXPECT_EQ(object.type, JsonValue::Type::Array);
  EXPECT_TRUE(object.object_value.empty());
  EXPECT_EQ(object.array_value.size(), 1u);
  EXPECT_EQ(object.Find("a"), nullptr);

  JsonValue doc = ParseOk("{\"n\":1,\"s\":\"true\",\"b\":true}");
  EXPECT_EQ(doc.GetNumber("s", 9), 9);
  EXPECT_FALSE(doc.GetBool("s", false));
  EXPECT_TRUE(doc.GetBool("missing", true));
  EXPECT_EQ(doc.GetString("n", "fallback"), "fallback");
  EXPECT_EQ(doc.GetString("s", ""), "true");
  EXPECT_EQ(JsonValue(static_cast<const char*>(nullptr)).string_value, "");
}

// Serialising and parsing any document gives the same document back, in both forms.
JsonValue RandomDocument(std::mt19937* random, int depth) {
  std::uniform_int_distribution<int> kind(0, depth > 5 ? 3 : 5);
  switch (kind(*random)) {
    case 0:
      return JsonValue();
    case 1:
      return JsonValue((*random)() % 2 == 0);
    case 2: {
      std::uniform_real_distribution<double> magnitude(-20, 20);
      double value = std::pow(10.0, magnitude(*random)) * ((*random)() % 2 ? -1 : 1);
      // Fifteen significant digits survive the round trip exactly.
      char text[40];
      std::snprintf(text, sizeof text, "%.15g", value);
      return JsonValue(std::strtod(text, nullptr));
    }
    case 3: {
      std::string text;
      int length = static_cast<int>((*random)() % 12);
      for (int i = 0; i < length; ++i) text.push_back(static_cast<char>((*random)() % 256));
      return JsonValue(text);
    }
    case 4: {
      JsonValue object = JsonValue::MakeObject();
      int members = static_cast<int>((*random)() % 5);
      for (int i = 0; i < members; ++i) {
        object["k" + std::to_string((*random)() % 100)] = RandomDocument(random, depth + 1);
      }
      return object;
    }
    default: {
      JsonValue array = JsonValue::MakeArray();
      int elements = static_cast<int>((*random)() % 5);
      for (int i = 0; i < elements; ++i) array.PushBack(RandomDocument(random, depth + 1));
      return array;
    }
  }
}

TEST(JsonNumberToInt32, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(JsonNumberToInt32(5001.9), 5001);
  EXPECT_EQ(JsonNumberToInt32(-0.5), 0);
  EXPECT_EQ(JsonNumberToInt32(-7.9), -7);
  EXPECT_EQ(JsonNumberToInt32(2147483647.0), INT32_MAX);
  EXPECT_EQ(JsonNumberToInt32(4294972296.0), INT32_MAX);
  EXPECT_EQ(JsonNumberToInt32(1e300), INT32_MAX);
  EXPECT_EQ(JsonNumberToInt32(HUGE_VAL), INT32_MAX);
  EXPECT_EQ(JsonNumberToInt32(-2147483648.5), INT32_MIN);
  EXPECT_EQ(JsonNumberToInt32(-HUGE_VAL), INT32_MIN);
  EXPECT_EQ(JsonNumberToInt32(std::nan("")), INT32_MIN);

  JsonValue body = JsonValue::MakeObject();
  body["index"] = 2.9;
  body["text"] = "2";
  body["nan"] = std::nan("");
  EXPECT_EQ(JsonMemberInt32(body, "index"), 2);
  for (const char* absent : {"text", "nan", "missing"}) {
    EXPECT_EQ(JsonMemberInt32(body, absent), std::nullopt) << absent;
  }
}

TEST(JsonNumberToInt64, TruncatesTowardZeroAndSaturatesBothForms) {
  EXPECT_EQ(JsonNumberToInt64(133485408123456000.0), 133485408123456000);
  EXPECT_EQ(JsonNumberToInt64(-7.9), -7);
  EXPECT_EQ(JsonNumberToInt64(9223372036854775807.0), INT64_MAX);
  EXPECT_EQ(JsonNumberToInt64(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(JsonNumberToInt64(1e300), INT64_MAX);
  EXPECT_EQ(JsonNumberToInt64(std::nan("")), INT64_MIN);

  EXPECT_EQ(JsonNumberToUint64(78643200.9), 78643200u);
  EXPECT_EQ(JsonNumberToUint64(-1.0), 0u);
  EXPECT_EQ(JsonNumberToUint64(18446744073709551615.0), UINT64_MAX);
  EXPECT_EQ(JsonNumberToUint64(-HUGE_VAL), 0u);
  EXPECT_EQ(JsonNumberToUint64(std::nan("")), 0u);
}

TEST(JsonRoundTrip, AnyDocumentSurvivesSerialiseAndParse) {
  std::mt19937 random(20261207);
  for (int i = 0; i < 2000; ++i) {
    JsonValue doc = RandomDocument(&random, 0);
    for (int indent : {0, 2}) {
      std::string text = doc.Serialize(indent);
      JsonValue back;
      std::string error;
      ASSERT_TRUE(JsonValue::Parse(text, &back, &error)) << error << "\n" << text;
      ASSERT_TRUE(back == doc) << text;
      EXPECT_EQ(back.Serialize(indent), text);
    }
  }
}

}  // namespace
}  // namespace zennic
