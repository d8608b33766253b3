#include "server/http_request_reader.h"

#include <array>
#include <vector>

#include "core/text.h"

namespace zennic {
namespace {

constexpr std::string_view kHeadTerminator = "\r\n\r\n";
constexpr char kTooLarge[] = "HTTP request exceeds maximum supported size";

// The classic locale's white space, whatever the process locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Headers that two readers of one request could take differently when repeated: the body's
// end, the host, and what the gates judge.
constexpr std::array<std::string_view, 5> kSingleHeaders = {"Content-Length", "Host", "Origin",
                                                            "Referer", "Cookie"};

std::vector<std::string_view> SplitAtWhiteSpace(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// Digits only: a sign, a blank inside or a trailing word would let two readers of the same
// request disagree on where the body ends.
bool ParseContentLength(std::string_view text, size_t limit, size_t* length, bool* too_large) {
  *too_large = false;
  if (text.empty()) return false;
  size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (!*too_large) {
      value = value * 10 + static_cast<size_t>(c - '0');
      *too_large = value > limit;
    }
  }
  *length = value;
  return true;
}

}  // namespace

HttpRequestReader::Stage HttpRequestReader::Add(std::string_view bytes) {
  if (stage_ == Stage::Body) {
    TakeBodyBytes(bytes);
  } else if (stage_ == Stage::Head) {
    head_buffer_.append(bytes);
    size_t found = head_buffer_.find(kHeadTerminator, scanned_);
    if (found == std::string::npos) {
      // The last three bytes may begin a terminator that the next bytes complete.
      scanned_ = head_buffer_.size() < 3 ? 0 : head_buffer_.size() - 3;
      if (head_buffer_.size() >= kMaxHttpHeadBytes + kHeadTerminator.size()) {
        Fail("HTTP request head exceeds maximum supported size");
      }
    } else if (found > kMaxHttpHeadBytes) {
      Fail("HTTP request head exceeds maximum supported size");
    } else {
      FinishHead(found);
    }
  }
  return stage_;
}

void HttpRequestReader::FinishHead(size_t head_length) {
  std::string rest = head_buffer_.substr(head_length + kHeadTerminator.size());
  head_buffer_.resize(head_length);
  if (!ParseHead(head_buffer_)) return;
  std::string().swap(head_buffer_);
  stage_ = body_length_ == 0 ? Stage::Complete : Stage::Body;
  if (stage_ == Stage::Body) TakeBodyBytes(rest);
}

bool HttpRequestReader::ParseHead(std::string_view head) {
  size_t limit = kMaxHttpRequestBytes - (head.size() + kHeadTerminator.size());
  bool first_line = true;
  std::array<bool, kSingleHeaders.size()> seen{};
  size_t position = 0;
  while (position < head.size() || first_line) {
    size_t end = head.find('\n', position);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(position, end - position);
    position = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (first_line) {
      first_line = false;
      if (head.empty()) {
        Fail("Missing HTTP request line");
        return false;
      }
      std::vector<std::string_view> tokens = SplitAtWhiteSpace(line);
      if (tokens.size() < 3) {
        Fail("Invalid HTTP request line");
        return false;
      }
      request_.method = std::string(tokens[0]);
      std::string_view target = tokens[1];
      request_.path = std::string(target.substr(0, target.find('?')));
      if (request_.path.empty()) request_.path.push_back('/');
      continue;
    }

    size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos) continue;
    std::string name = Trim(line.substr(0, colon));
    std::string value = Trim(line.substr(colon + 1));
    for (size_t i = 0; i < kSingleHeaders.size(); ++i) {
      if (!EqualsIgnoreCase(name, kSingleHeaders[i])) continue;
      if (seen[i]) {
        Fail("Repeated " + std::string(kSingleHeaders[i]) + " header");
        return false;
      }
      seen[i] = true;
    }
    // Bodies are framed by Content-Length only; a chunked body read as none would leave its
    // bytes to be taken for something else.
    if (EqualsIgnoreCase(name, "transfer-encoding")) {
      Fail("Transfer-Encoding is not supported", 501);
      return false;
    }
    if (EqualsIgnoreCase(name, "content-length")) {
      bool too_large = false;
      if (!ParseContentLength(value, limit, &body_length_, &too_large)) {
        Fail("Invalid Content-Length header");
        return false;
      }
      if (too_large) {
        Fail(kTooLarge);
        return false;
      }
    }
    request_.headers[std::move(name)] = std::move(value);
  }
  return true;
}

void HttpRequestReader::TakeBodyBytes(std::string_view bytes) {
  size_t wanted = body_length_ - request_.body.size();
  request_.body.append(bytes.substr(0, wanted));
  if (request_.body.size() == body_length_) stage_ = Stage::Complete;
}

void HttpRequestReader::SkipBody() {
  std::string().swap(request_.body);
  request_.body_skipped = true;
}

void HttpRequestReader::Fail(std::string message, int status) {
  stage_ = Stage::Failed;
  error_ = std::move(message);
  failure_status_ = status;
  std::string().swap(head_buffer_);
}

}  // namespace zennic
