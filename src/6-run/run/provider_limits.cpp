// What a provider korvane knows sets on an upload into one of its
// accounts, kept by the run and told to the front end before the first
// message.
#include <algorithm>

#include "provider/provider.h"
#include "run/run_context.h"

namespace {

const Provider* ProviderOf(const AccountPlace& place) {
  std::string unknown;
  return ProviderFromEnvironment(place.host, &unknown);
}

}  // namespace

int CapJobs(RunContext* run, const AccountPlace& place, int jobs) {
  const Provider* provider = ProviderOf(place);
  if (!provider || jobs <= provider->maxConnections) return jobs;
  Notice notice;
  notice.kind = NoticeKind::kConnectionsCut;
  notice.count = provider->maxConnections;
  notice.text = provider->title;
  notice.where = place.host;
  run->notices->Tell(notice);
  return provider->maxConnections;
}

void TellUploadSize(RunContext* run, const AccountPlace& place,
                    uint64_t bytes) {
  const Provider* provider = ProviderOf(place);
  if (!provider) return;
  Notice notice;
  notice.kind = NoticeKind::kUploadSize;
  notice.bytes = bytes;
  notice.text = provider->title;
  notice.where = place.host;
  const uint64_t daily = provider->dailyUploadBytes;
  if (daily != 0)
    notice.count =
        static_cast<int>(std::max<uint64_t>(1, (bytes + daily - 1) / daily));
  run->notices->Tell(notice);
}
