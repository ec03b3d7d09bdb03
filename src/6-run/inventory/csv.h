// The inventory's file format: RFC 4180 rows of UTF-8 text behind a
// byte-order mark (without it, spreadsheet programs on Windows read the
// names in the system's code page), dates in ISO 8601 UTC.
#ifndef KORVANE_INVENTORY_CSV_H_
#define KORVANE_INVENTORY_CSV_H_

#include <stddef.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/win32.h"

// What an inventory file begins with.
extern const char kUtf8ByteOrderMark[4];

// The inventory's columns, in order: its first row.
extern const char* const kInventoryColumns[];
extern const size_t kInventoryColumnCount;

// Appends one field: as it is, or in double quotes with each quote doubled
// where it holds a quote, a comma, a CR or an LF.
void AppendCsvField(std::string* out, std::string_view field);

// Appends a row of fields, separated by commas and ended by CR LF.
void AppendCsvRow(std::string* out,
                  std::initializer_list<std::string_view> fields);

// "2001-09-09T01:46:40Z" for a time in UTC.
std::string IsoUtcDate(const SYSTEMTIME& utc);

#endif  // KORVANE_INVENTORY_CSV_H_
