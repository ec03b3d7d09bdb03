#include "inventory/csv.h"

#include <stdio.h>

const char kUtf8ByteOrderMark[4] = "\xEF\xBB\xBF";

const char* const kInventoryColumns[] = {
    "folder",  "index",           "offset", "length", "scan",
    "date",    "envelope_sender", "from",   "to",     "cc",
    "subject", "message_id",      "sha256", "output", "problem"};
const size_t kInventoryColumnCount =
    sizeof kInventoryColumns / sizeof kInventoryColumns[0];

void AppendCsvField(std::string* out, std::string_view field) {
  if (field.find_first_of("\",\r\n") == std::string_view::npos) {
    out->append(field.data(), field.size());
    return;
  }
  out->push_back('"');
  for (char c : field) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

void AppendCsvRow(std::string* out,
                  std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) out->push_back(',');
    first = false;
    AppendCsvField(out, field);
  }
  out->append("\r\n");
}

std::string IsoUtcDate(const SYSTEMTIME& utc) {
  char text[48];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ",
           unsigned(utc.wYear), unsigned(utc.wMonth), unsigned(utc.wDay),
           unsigned(utc.wHour), unsigned(utc.wMinute), unsigned(utc.wSecond));
  return text;
}
