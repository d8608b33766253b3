#pragma once

#include <cstddef>

#include "server/http_message.h"

namespace zennic {

// What a handler makes of a request's head, before any of its body is read.
struct HttpHeadVerdict {
  enum class Kind {
    NotMine,   // the handler does not serve the path; the body is not read
    Answered,  // the head alone settles the reply in `answer`; the body is not read
    ReadBody,  // read a body of at most `max_body_bytes`, then hand over the whole request
  };
  Kind kind = Kind::NotMine;
  HttpResponse answer;
  size_t max_body_bytes = 0;
};

// The server's one way to what lies above it: it asks on the head, reads the body only when
// told to, and hands over the whole request with the verdict its head got, so the gates are
// never judged twice.
class HttpRequestHandler {
 public:
  virtual ~HttpRequestHandler() = default;

  // Called as soon as a head is in, on the server's own thread: quick, never waits on a client.
  virtual HttpHeadVerdict DecideOnHead(const HttpRequest& head) const = 0;
  // Called on a thread of its own with the whole request, only after its head was told
  // ReadBody.
  virtual HttpResponse HandleWholeRequest(const HttpRequest& request) = 0;
};

}  // namespace zennic
