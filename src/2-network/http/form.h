// application/x-www-form-urlencoded (the body of a token request, the
// query of an authorization URL and of the redirect that answers it).
#ifndef KORVANE_HTTP_FORM_H_
#define KORVANE_HTTP_FORM_H_

#include <string>
#include <utility>
#include <vector>

typedef std::vector<std::pair<std::string, std::string>> FormFields;

// Every byte but the unreserved ones (RFC 3986: letters, digits, "-._~")
// as %XX.
std::string PercentEncode(const std::string& text);

// name=value&name=value, each part percent-encoded.
std::string FormEncode(const FormFields& fields);

// The fields of a query or form ("a=1&b=x%20y"; "+" is a blank). Parts
// without "=" have an empty value; a malformed %XX is kept as it is.
FormFields ParseForm(const std::string& text);

// The value of the first field named name; "" where there is none.
std::string FormValue(const FormFields& fields, const std::string& name);
bool HasField(const FormFields& fields, const std::string& name);

#endif  // KORVANE_HTTP_FORM_H_
