#include "run/run_request.h"

#include <string.h>

#include "io/paths.h"

const OutputKind& KindOf(const RunRequest& request) {
  if (request.kind != nullptr) return *request.kind;
  const OutputKind* named =
      request.destination ? OutputKindOfName(*request.destination) : nullptr;
  return named != nullptr ? *named : DefaultOutputKind();
}

std::string DefaultDestination(const RunRequest& request) {
  if (request.destination) return *request.destination;
  const OutputKind& kind = KindOf(request);
  if (!request.tree) {
    if (kind.singleSuffix == nullptr) return std::string();
    // The last "." of the whole name, as it has always been taken.
    const size_t dot = request.source.rfind('.');
    return (dot == std::string::npos ? request.source
                                     : request.source.substr(0, dot)) +
           kind.singleSuffix;
  }
  std::string root;
  DWORD error = ERROR_SUCCESS;
  if (kind.treeSuffix == nullptr || !FullPath(request.source, &root, &error))
    return std::string();
  const std::string name = LastName(root);
  if (name.empty()) return std::string();
  return JoinPath(ParentPath(root), name + kind.treeSuffix);
}
