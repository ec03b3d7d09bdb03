#include "redirect/redirect_listener.h"

bool ParseRequestTarget(const std::string& head, std::string* path,
                        std::string* query) {
  const size_t lineEnd = head.find("\r\n");
  const std::string line = head.substr(0, lineEnd);
  if (line.compare(0, 4, "GET ") != 0) return false;
  const size_t targetEnd = line.find(' ', 4);
  if (targetEnd == std::string::npos ||
      line.compare(targetEnd, 6, " HTTP/") != 0)
    return false;
  const std::string target = line.substr(4, targetEnd - 4);
  if (target.empty() || target[0] != '/') return false;
  const size_t mark = target.find('?');
  *path = target.substr(0, mark);
  *query = mark == std::string::npos ? "" : target.substr(mark + 1);
  return true;
}

std::string PlainPage(int status, const std::string& text) {
  const char* reason = status == 200   ? "OK"
                       : status == 404 ? "Not Found"
                                       : "Bad Request";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(text.size()) +
         "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + text;
}
