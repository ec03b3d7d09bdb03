#include "http/form.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() &&
               HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out +=
          static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
        (u >= '0' && u <= '9') || u == '-' || u == '.' || u == '_' ||
        u == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string FormEncode(const FormFields& fields) {
  std::string out;
  for (const auto& field : fields) {
    if (!out.empty()) out += '&';
    out += PercentEncode(field.first) + "=" + PercentEncode(field.second);
  }
  return out;
}

FormFields ParseForm(const std::string& text) {
  FormFields fields;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('&', at);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(at, end - at);
    if (!part.empty()) {
      const size_t equals = part.find('=');
      fields.emplace_back(Decode(part.substr(0, equals)),
                          equals == std::string::npos
                              ? std::string()
                              : Decode(part.substr(equals + 1)));
    }
    at = end + 1;
  }
  return fields;
}

std::string FormValue(const FormFields& fields, const std::string& name) {
  for (const auto& field : fields)
    if (field.first == name) return field.second;
  return "";
}

bool HasField(const FormFields& fields, const std::string& name) {
  for (const auto& field : fields)
    if (field.first == name) return true;
  return false;
}
