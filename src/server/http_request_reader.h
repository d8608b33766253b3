#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "server/http_message.h"

namespace zennic {

// A whole request, head and body together, may not exceed this many bytes.
inline constexpr size_t kMaxHttpRequestBytes = 268435456;
// The head alone is held to far less: browsers send a few KiB, and nothing may be buffered
// without limit before the gates have seen the head.
inline constexpr size_t kMaxHttpHeadBytes = 65536;

// Assembles one request from the bytes of a connection as they arrive. The head is parsed as
// soon as its terminating empty line is in; the caller may then judge the head before it
// decides to read the body at all.
class HttpRequestReader {
 public:
  enum class Stage { Head, Body, Complete, Failed };

  // Takes the next received bytes. Bytes beyond the announced body are ignored.
  Stage Add(std::string_view bytes);

  Stage stage() const { return stage_; }
  // Why the stage is Failed, and the status of the reply: 400, or 501 for what the server
  // does not implement.
  const std::string& error() const { return error_; }
  int failure_status() const { return failure_status_; }
  // Method, path and headers once the head is parsed; the body once Complete.
  const HttpRequest& request() const { return request_; }
  HttpRequest& request() { return request_; }
  // The announced body length (0 without a Content-Length header).
  size_t body_length() const { return body_length_; }
  // Memory held for the request so far.
  size_t buffered_bytes() const { return head_buffer_.capacity() + request_.body.capacity(); }
  // Leaves the announced body unread: drops what arrived of it and marks the request so.
  void SkipBody();

 private:
  void FinishHead(size_t head_length);
  bool ParseHead(std::string_view head);
  void TakeBodyBytes(std::string_view bytes);
  void Fail(std::string message, int status = 400);

  Stage stage_ = Stage::Head;
  std::string error_;
  int failure_status_ = 400;
  HttpRequest request_;
  std::string head_buffer_;
  // Where the search for the head's end resumes: earlier bytes hold no terminator.
  size_t scanned_ = 0;
  size_t body_length_ = 0;
};

}  // namespace zennic
