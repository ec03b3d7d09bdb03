#include "random/random.h"

#include <vector>

#include "bytes/base64.h"

Status RandomText(size_t size, std::string* text) {
  std::vector<unsigned char> bytes(size);
  const Status status = RandomBytes(bytes.data(), size);
  if (!status.IsOk()) return status;
  *text = Base64Url(std::string(bytes.begin(), bytes.end()));
  return Status::Ok();
}
