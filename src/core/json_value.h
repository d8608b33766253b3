#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zennic {

// How strictly a text is read.
struct JsonParseRules {
  // Text from another program must be well-formed UTF-8 with its control characters escaped.
  // The program's own files are read as written, raw path bytes that are not UTF-8 included.
  bool require_utf8 = false;
  // At most this many values in the document; 0 means kMinValueBudget plus one value per
  // kTextBytesPerValue bytes of text.
  size_t max_values = 0;
};

// The one JSON representation of the program. Objects keep their members sorted by key, so
// every serialised object lists its keys in byte order.
class JsonValue {
 public:
  enum class Type : int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Object = 4, Array = 5 };

  // Deeper input is refused rather than exhausting the stack.
  static constexpr int kMaxNestingDepth = 512;
  // A value takes well over a hundred bytes of memory and as little as two of text ("0,"), so
  // a document may hold only so many values for its size; the floor lets every document the
  // program keeps pass.
  static constexpr size_t kMinValueBudget = 16384;
  static constexpr size_t kTextBytesPerValue = 16;

  JsonValue() = default;
  explicit JsonValue(Type kind) : type(kind) {}
  JsonValue(bool value) : type(Type::Bool), bool_value(value) {}
  JsonValue(double value) : type(Type::Number), number_value(value) {}
  JsonValue(const char* value) : type(Type::String), string_value(value ? value : "") {}
  JsonValue(std::string value) : type(Type::String), string_value(std::move(value)) {}

  static JsonValue MakeObject() { return JsonValue(Type::Object); }
  static JsonValue MakeArray() { return JsonValue(Type::Array); }
  // A text, or null when it is empty: replies give an absent text as null.
  static JsonValue StringOrNull(const std::string& text) {
    return text.empty() ? JsonValue() : JsonValue(text);
  }

  // Turns a value of another kind into an empty object first; inserts a Null for a new key.
  JsonValue& operator[](const std::string& key);
  // Turns a value of another kind into an empty array first.
  void PushBack(const JsonValue& element);

  const JsonValue* Find(const std::string& key) const;
  bool GetBool(const std::string& key, bool fallback) const;
  double GetNumber(const std::string& key, double fallback) const;
  std::string GetString(const std::string& key, const std::string& fallback) const;

  static bool Parse(std::string_view text, JsonValue* output, std::string* error,
                    JsonParseRules rules = {});
  // indent <= 0: compact form; otherwise one member or element a line. Texts are written byte
  // for byte, so the program's own files read back exactly; with `utf8_only`, for another
  // program, a text that is not UTF-8 (a file name's raw bytes, a system's message) is written
  // as WideToUtf8 writes a path of those bytes.
  std::string Serialize(int indent, bool utf8_only = false) const;

  Type type = Type::Null;
  bool bool_value = false;
  double number_value = 0.0;
  std::string string_value;
  std::map<std::string, JsonValue> object_value;
  std::vector<JsonValue> array_value;

 private:
  void BecomeEmpty(Type kind);
};

bool operator==(const JsonValue& a, const JsonValue& b);

// The one conversion of a JSON number to a 32-bit integer: truncated toward zero, saturated at
// the type's bounds; NaN gives the lowest value.
int32_t JsonNumberToInt32(double number);
// The number member `key` through that conversion; none when it is absent, of another type or
// NaN, which stands for no number at all.
std::optional<int32_t> JsonMemberInt32(const JsonValue& object, const std::string& key);
// The same for 64-bit integers; below zero (and NaN) the unsigned form gives 0.
int64_t JsonNumberToInt64(double number);
uint64_t JsonNumberToUint64(double number);

}  // namespace zennic
