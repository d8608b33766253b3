#include "core/json_value.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "core/text.h"

namespace zennic {
namespace {

bool IsJsonSpace(char c) {
  // isspace in the classic locale; bytes from 0x80 up are never white space.
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void SetError(std::string* error, const char* message) {
  if (error) *error = message;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether a number literal that does not fit a double lies beyond its largest value (rather
// than below its smallest), judged by its decimal exponent.
bool IsOverflow(std::string_view literal) {
  size_t exponent_at = literal.find_first_of("eE");
  std::string_view mantissa = literal.substr(0, exponent_at);
  long long exponent = 0;
  if (exponent_at != std::string_view::npos) {
    std::string_view text = literal.substr(exponent_at + 1);
    bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    for (char c : text) exponent = std::min<long long>(exponent * 10 + (c - '0'), 1'000'000'000);
    if (negative) exponent = -exponent;
  }
  size_t point = mantissa.find('.');
  std::string_view whole = mantissa.substr(0, point);
  size_t first_digit = whole.find_first_not_of("-0");
  if (first_digit != std::string_view::npos) {
    return exponent + static_cast<long long>(whole.size() - first_digit) - 1 >= 0;
  }
  std::string_view fraction = point == std::string_view::npos ? "" : mantissa.substr(point + 1);
  size_t zeros = fraction.find_first_not_of('0');
  return exponent - static_cast<long long>(zeros) - 1 >= 0;
}

// Reads a run of number bytes as the C library's strtod would in the classic locale, whatever
// the process locale: a leading "+" is allowed, the whole run must be used, and a literal
// beyond the range of double becomes infinity (or zero) with its sign.
bool ReadNumberLiteral(std::string_view token, double* value) {
  std::string_view literal = token;
  if (!literal.empty() && literal[0] == '+') {
    literal.remove_prefix(1);
    if (!literal.empty() && (literal[0] == '+' || literal[0] == '-')) return false;
  }
  const char* last = literal.data() + literal.size();
  auto [end, code] = std::from_chars(literal.data(), last, *value);
  if (code == std::errc::invalid_argument || end != last) return false;
  if (code == std::errc::result_out_of_range) {
    double magnitude = IsOverflow(literal) ? std::numeric_limits<double>::infinity() : 0.0;
    *value = literal[0] == '-' ? -magnitude : magnitude;
  }
  return true;
}

class JsonParser {
 public:
  JsonParser(std::string_view text, JsonParseRules rules)
      : text_(text),
        require_utf8_(rules.require_utf8),
        values_left_(rules.max_values != 0
                         ? rules.max_values
                         : JsonValue::kMinValueBudget + text.size() / JsonValue::kTextBytesPerValue) {}

  bool ParseDocument(JsonValue* output, std::string* error) {
    if (!ParseValue(output, error, 0)) return false;
    SkipSpace();
    if (pos_ != text_.size()) {
      SetError(error, "Unexpected trailing characters after JSON value");
      return false;
    }
    return true;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  void SkipSpace() {
    while (!AtEnd() && IsJsonSpace(Peek())) ++pos_;
  }

  bool ParseValue(JsonValue* out, std::string* error, int depth) {
    SkipSpace();
    if (AtEnd()) {
      SetError(error, "Unexpected end of JSON input");
      return false;
    }
    if (values_left_ == 0) return Fail(error, "JSON document holds too many values");
    --values_left_;
    switch (Peek()) {
      case '{':
        return ParseObject(out, error, depth + 1);
      case '[':
        return ParseArray(out, error, depth + 1);
      case '"':
        *out = JsonValue(std::string());
        return ParseString(&out->string_value, error);
      case 't':
      case 'f':
        return ParseBool(out, error);
      case 'n':
        return ParseNull(out, error);
      default:
        return ParseNumber(out, error);
    }
  }

  bool CheckDepth(int depth, std::string* error) {
    if (depth <= JsonValue::kMaxNestingDepth) return true;
    SetError(error, "JSON nesting is too deep");
    return false;
  }

  bool ParseObject(JsonValue* out, std::string* error, int depth) {
    *out = JsonValue::MakeObject();
    if (!CheckDepth(depth, error)) return false;
    ++pos_;
    SkipSpace();
    if (AtEnd()) return Fail(error, "Unexpected end while parsing object");
    if (Peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      std::string key;
      if (!ParseString(&key, error)) return false;
      SkipSpace();
      if (AtEnd() || Peek() != ':') return Fail(error, "Expected ':' after object key");
      ++pos_;
      JsonValue member;
      if (!ParseValue(&member, error, depth)) return false;
      out->object_value[std::move(key)] = std::move(member);
      SkipSpace();
      if (AtEnd()) return Fail(error, "Unexpected end while parsing object");
      if (Peek() == '}') {
        ++pos_;
        return true;
      }
      if (Peek() != ',') return Fail(error, "Expected ',' or '}' in object");
      ++pos_;
      SkipSpace();
      if (AtEnd()) return Fail(error, "Unexpected end while parsing object");
    }
  }

  bool ParseArray(JsonValue* out, std::string* error, int depth) {
    *out = JsonValue::MakeArray();
    if (!CheckDepth(depth, error)) return false;
    ++pos_;
    SkipSpace();
    if (AtEnd()) return Fail(error, "Unexpected end while parsing array");
    if (Peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      JsonValue element;
      if (!ParseValue(&element, error, depth)) return false;
      out->array_value.push_back(std::move(element));
      SkipSpace();
      if (AtEnd()) return Fail(error, "Unexpected end while parsing array");
      if (Peek() == ']') {
        ++pos_;
        return true;
      }
      if (Peek() != ',') return Fail(error, "Expected ',' or ']' in array");
      ++pos_;
      SkipSpace();
      if (AtEnd()) return Fail(error, "Unexpected end while parsing array");
    }
  }

  // Reads four hex digits after "\u"; pos_ is on the first digit.
  bool ReadCodeUnit(uint32_t* unit, std::string* error) {
    if (text_.size() - pos_ < 4) return Fail(error, "Incomplete unicode escape");
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      int digit = HexDigitValue(text_[pos_ + i]);
      if (digit < 0) return Fail(error, "Invalid unicode escape sequence");
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    pos_ += 4;
    *unit = value;
    return true;
  }

  // A high surrogate directly followed by the escape of a low one is one character; anything
  // else is kept unit by unit where the rules allow it.
  bool ParseUnicodeEscape(std::string* out, std::string* error) {
    uint32_t unit = 0;
    if (!ReadCodeUnit(&unit, error)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF && text_.size() - pos_ >= 6 && text_[pos_] == '\\' &&
        text_[pos_ + 1] == 'u') {
      size_t saved = pos_;
      pos_ += 2;
      uint32_t low = 0;
      std::string ignored;
      if (ReadCodeUnit(&low, &ignored) && low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        return true;
      }
      pos_ = saved;
    }
    // Half a character is no text: stored, it would make the program's own files invalid UTF-8.
    if (require_utf8_ && unit >= 0xD800 && unit <= 0xDFFF) {
      return Fail(error, "Unpaired surrogate in unicode escape");
    }
    AppendUtf8(out, unit);
    return true;
  }

  // Raw bytes between escapes, checked as a whole when the rules ask for UTF-8.
  bool TakeRawRun(size_t start, std::string* out, std::string* error) {
    std::string_view run = text_.substr(start, pos_ - 1 - start);
    if (require_utf8_ && !IsValidUtf8(run)) return Fail(error, "Invalid UTF-8 in string");
    out->append(run);
    return true;
  }

  bool ParseString(std::string* out, std::string* error) {
    if (AtEnd() || Peek() != '"') return Fail(error, "Expected string opening quote");
    ++pos_;
    // One allocation for a long string instead of one growth step after another.
    size_t closing = text_.find('"', pos_);
    if (closing != std::string_view::npos) out->reserve(closing - pos_);
    size_t run_start = pos_;
    while (!AtEnd()) {
      char c = text_[pos_++];
      if (c == '"') return TakeRawRun(run_start, out, error);
      if (c != '\\') {
        if (require_utf8_ && static_cast<unsigned char>(c) < 0x20) {
          return Fail(error, "Unescaped control character in string");
        }
        continue;
      }
      if (!TakeRawRun(run_start, out, error)) return false;
      if (AtEnd()) return Fail(error, "Unexpected end in escape sequence");
      char escape = text_[pos_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out->push_back(escape);
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'u':
          if (!ParseUnicodeEscape(out, error)) return false;
          break;
        default:
          return Fail(error, "Unsupported escape sequence");
      }
      run_start = pos_;
    }
    return Fail(error, "Unexpected end while parsing string");
  }

  bool ParseNumber(JsonValue* out, std::string* error) {
    size_t start = pos_;
    while (!AtEnd()) {
      char c = Peek();
      bool number_byte = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' ||
                         c == 'E';
      if (!number_byte) break;
      ++pos_;
    }
    if (pos_ == start) return Fail(error, "Expected number");
    double value = 0.0;
    if (!ReadNumberLiteral(text_.substr(start, pos_ - start), &value)) {
      return Fail(error, "Invalid number token");
    }
    *out = JsonValue(value);
    return true;
  }

  bool ParseBool(JsonValue* out, std::string* error) {
    if (text_.substr(pos_, 4) == "true") {
      pos_ += 4;
      *out = JsonValue(true);
      return true;
    }
    if (text_.substr(pos_, 5) == "false") {
      pos_ += 5;
      *out = JsonValue(false);
      return true;
    }
    return Fail(error, "Invalid boolean value");
  }

  bool ParseNull(JsonValue* out, std::string* error) {
    if (text_.substr(pos_, 4) != "null") return Fail(error, "Invalid null value");
    pos_ += 4;
    *out = JsonValue();
    return true;
  }

  static bool Fail(std::string* error, const char* message) {
    SetError(error, message);
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  bool require_utf8_;
  size_t values_left_;
};

void WriteEscapedString(std::string* out, const std::string& raw, bool utf8_only) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  if (utf8_only && !IsValidUtf8(raw)) escaped = EscapeStrayBytes(raw);
  const std::string& text = escaped.empty() ? raw : escaped;
  out->push_back('"');
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      case '\b':
        out->append("\\b");
        break;
      case '\f':
        out->append("\\f");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\r':
        out->append("\\r");
        break;
      case '\t':
        out->append("\\t");
        break;
      default:
        if (byte < 0x20) {
          out->append("\\u00");
          out->push_back(kHex[byte >> 4]);
          out->push_back(kHex[byte & 0x0F]);
        } else {
          out->push_back(c);
        }
    }
  }
  out->push_back('"');
}

void WriteNumber(std::string* out, double value) {
  // No JSON reader accepts inf or nan.
  if (!std::isfinite(value)) {
    out->append("null");
    return;
  }
  // printf's "%.15g" in the classic locale, whatever the process locale.
  char buffer[40];
  auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  out->append(buffer, written.ptr);
}

void WriteLineBreak(std::string* out, int indent, int depth) {
  out->push_back('\n');
  out->append(static_cast<size_t>(indent) * static_cast<size_t>(depth), ' ');
}

void WriteValue(std::string* out, const JsonValue& value, int indent, int depth, bool utf8_only) {
  switch (value.type) {
    case JsonValue::Type::Null:
      out->append("null");
      return;
    case JsonValue::Type::Bool:
      out->append(value.bool_value ? "true" : "false");
      return;
    case JsonValue::Type::Number:
      WriteNumber(out, value.number_value);
      return;
    case JsonValue::Type::String:
      WriteEscapedString(out, value.string_value, utf8_only);
      return;
    case JsonValue::Type::Object: {
      out->push_back('{');
      bool first = true;
      for (const auto& [key, member] : value.object_value) {
        if (!first) out->push_back(',');
        first = false;
        if (indent > 0) WriteLineBreak(out, indent, depth + 1);
        WriteEscapedString(out, key, utf8_only);
        out->append(indent > 0 ? ": " : ":");
        WriteValue(out, member, indent, depth + 1, utf8_only);
      }
      if (!first && indent > 0) WriteLineBreak(out, indent, depth);
      out->push_back('}');
      return;
    }
    case JsonValue::Type::Array: {
      out->push_back('[');
      bool first = true;
      for (const JsonValue& element : value.array_value) {
        if (!first) out->push_back(',');
        first = false;
        if (indent > 0) WriteLineBreak(out, indent, depth + 1);
        WriteValue(out, element, indent, depth + 1, utf8_only);
      }
      if (!first && indent > 0) WriteLineBreak(out, indent, depth);
      out->push_back(']');
      return;
    }
  }
}

}  // namespace

void JsonValue::BecomeEmpty(Type kind) {
  type = kind;
  bool_value = false;
  number_value = 0.0;
  string_value.clear();
  object_value.clear();
  array_value.clear();
}

JsonValue& JsonValue::operator[](const std::string& key) {
  if (type != Type::Object) BecomeEmpty(Type::Object);
  return object_value[key];
}

void JsonValue::PushBack(const JsonValue& element) {
  if (type != Type::Array) BecomeEmpty(Type::Array);
  array_value.push_back(element);
}

const JsonValue* JsonValue::Find(const std::string& key) const {
  if (type != Type::Object) return nullptr;
  auto it = object_value.find(key);
  return it == object_value.end() ? nullptr : &it->second;
}

bool JsonValue::GetBool(const std::string& key, bool fallback) const {
  const JsonValue* member = Find(key);
  return member && member->type == Type::Bool ? member->bool_value : fallback;
}

double JsonValue::GetNumber(const std::string& key, double fallback) const {
  const JsonValue* member = Find(key);
  return member && member->type == Type::Number ? member->number_value : fallback;
}

std::string JsonValue::GetString(const std::string& key, const std::string& fallback) const {
  const JsonValue* member = Find(key);
  return member && member->type == Type::String ? member->string_value : fallback;
}

bool JsonValue::Parse(std::string_view text, JsonValue* output, std::string* error,
                      JsonParseRules rules) {
  if (output == nullptr) {
    SetError(error, "Parse output value is null");
    return false;
  }
  return JsonParser(text, rules).ParseDocument(output, error);
}

std::string JsonValue::Serialize(int indent, bool utf8_only) const {
  std::string out;
  WriteValue(&out, *this, indent, 0, utf8_only);
  return out;
}

bool operator==(const JsonValue& a, const JsonValue& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case JsonValue::Type::Null:
      return true;
    case JsonValue::Type::Bool:
      return a.bool_value == b.bool_value;
    case JsonValue::Type::Number:
      return a.number_value == b.number_value ||
             (std::isnan(a.number_value) && std::isnan(b.number_value));
    case JsonValue::Type::String:
      return a.string_value == b.string_value;
    case JsonValue::Type::Object:
      return a.object_value == b.object_value;
    case JsonValue::Type::Array:
      return a.array_value == b.array_value;
  }
  return false;
}

int32_t JsonNumberToInt32(double number) {
  constexpr double kLowest = static_cast<double>(INT32_MIN);
  constexpr double kHighest = static_cast<double>(INT32_MAX);
  if (std::isnan(number) || number <= kLowest) return INT32_MIN;
  if (number >= kHighest) return INT32_MAX;
  return static_cast<int32_t>(number);
}

std::optional<int32_t> JsonMemberInt32(const JsonValue& object, const std::string& key) {
  const JsonValue* member = object.Find(key);
  if (member == nullptr || member->type != JsonValue::Type::Number ||
      std::isnan(member->number_value)) {
    return std::nullopt;
  }
  return JsonNumberToInt32(member->number_value);
}

int64_t JsonNumberToInt64(double number) {
  // 2^63: the first double above INT64_MAX, which itself has no exact double.
  constexpr double kBeyondHighest = 9223372036854775808.0;
  if (std::isnan(number) || number <= -kBeyondHighest) return INT64_MIN;
  if (number >= kBeyondHighest) return INT64_MAX;
  return static_cast<int64_t>(number);
}

uint64_t JsonNumberToUint64(double number) {
  constexpr double kBeyondHighest = 18446744073709551616.0;  // 2^64
  if (std::isnan(number) || number <= 0) return 0;
  if (number >= kBeyondHighest) return UINT64_MAX;
  return static_cast<uint64_t>(number);
}

}  // namespace zennic
