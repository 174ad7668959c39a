#include "app/lab_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

constexpr const char* kLabSchemes[] = {"postgresql://", "postgres://"};

size_t LabSchemeLength(const std::string& url) {
  for (const char* scheme : kLabSchemes) {
    const std::string prefix(scheme);
    if (url.compare(0, prefix.size(), prefix) == 0) return prefix.size();
  }
  return 0;
}

// The parts of a URL a password may hide in: user[:password]@ (everything
// before the authority's last '@', so that a password with an '@' of its
// own is taken whole) and the query's parameters.
struct LabUrlParts {
  std::string scheme;
  bool hasUser = false;
  std::string user;
  bool hasPassword = false;
  std::string password;
  std::string rest;  // host, port, database, before the query
  bool hasQuery = false;
  std::vector<std::string> params;
};

LabUrlParts SplitLabUrl(const std::string& url) {
  LabUrlParts parts;
  const size_t start = LabSchemeLength(url);
  parts.scheme = url.substr(0, start);
  const size_t end = std::min(url.find_first_of("/?", start), url.size());
  const size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  size_t body = start;
  if (at != std::string::npos && at >= start && at < end) {
    parts.hasUser = true;
    const std::string info = url.substr(start, at - start);
    const size_t colon = info.find(':');
    parts.user = info.substr(0, colon);
    if (colon != std::string::npos) {
      parts.hasPassword = true;
      parts.password = info.substr(colon + 1);
    }
    body = at + 1;
  }
  const size_t query = url.find('?', body);
  parts.rest = url.substr(body, query == std::string::npos ? std::string::npos : query - body);
  if (query != std::string::npos) {
    parts.hasQuery = true;
    const std::string text = url.substr(query + 1);
    size_t from = 0;
    while (from <= text.size()) {
      const size_t amp = text.find('&', from);
      parts.params.push_back(text.substr(from, amp == std::string::npos ? amp : amp - from));
      if (amp == std::string::npos) break;
      from = amp + 1;
    }
  }
  return parts;
}

bool IsPasswordParam(const std::string& param) { return param.rfind("password=", 0) == 0; }

std::string JoinWithoutPassword(const LabUrlParts& parts) {
  std::string url = parts.scheme;
  if (parts.hasUser) url += parts.user + "@";
  url += parts.rest;
  std::string query;
  for (const std::string& param : parts.params) {
    if (IsPasswordParam(param)) continue;
    if (!query.empty()) query += "&";
    query += param;
  }
  if (!query.empty()) url += "?" + query;
  return url;
}

bool BadPercentEscape(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2])) ||
        (text[i + 1] == '0' && text[i + 2] == '0')) {
      return true;
    }
  }
  return false;
}

}  // namespace

LabChoice ChooseLabHistory(const std::string& optionUrl, const std::string& settingsUrl) {
  if (!optionUrl.empty()) return {optionUrl, LabUrlFrom::kOption};
  const char* environment = std::getenv("VELMO_HISTORY");
  if (environment != nullptr && environment[0] != '\0')
    return {environment, LabUrlFrom::kEnvironment};
  if (!settingsUrl.empty()) return {settingsUrl, LabUrlFrom::kSettings};
  return {};
}

const char* LabUrlOrigin(LabUrlFrom from) {
  switch (from) {
    case LabUrlFrom::kOption: return "--history";
    case LabUrlFrom::kEnvironment: return "VELMO_HISTORY";
    case LabUrlFrom::kSettings: return "the settings file";
    case LabUrlFrom::kNone: break;
  }
  return "";
}

std::string LabUrlProblem(const std::string& url) {
  if (LabSchemeLength(url) == 0)
    return "A lab history's URL starts with postgresql:// or postgres://.";
  for (const char c : url) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f)
      return "A URL holds no spaces or control characters (write a space as %20).";
  }
  if (BadPercentEscape(url))
    return "A % in a URL starts two hexadecimal digits (%2F), and never %00.";
  const LabUrlParts parts = SplitLabUrl(url);
  for (const std::string& param : parts.params) {
    const size_t equals = param.find('=');
    if (equals == std::string::npos || equals == 0)
      return "Each setting after ? is name=value (such as host=/run/postgresql), not '" + param +
             "'.";
  }
  // host[:port][,host[:port]...][/database]: a port is a number.
  const std::string hosts = parts.rest.substr(0, parts.rest.find('/'));
  size_t from = 0;
  while (from <= hosts.size()) {
    const size_t comma = hosts.find(',', from);
    const std::string host =
        hosts.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    const size_t bracket = host.rfind(']');
    const size_t colon = host.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
      const std::string port = host.substr(colon + 1);
      bool digits = !port.empty() && port.size() <= 5;
      for (const char c : port) digits = digits && std::isdigit(static_cast<unsigned char>(c));
      if (!digits || std::atoi(port.c_str()) > 65535)
        return "The port after ':' is a number up to 65535, not '" + port + "'.";
    }
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return {};
}

bool UrlHasPassword(const std::string& url) {
  const LabUrlParts parts = SplitLabUrl(url);
  if (parts.hasPassword) return true;
  for (const std::string& param : parts.params)
    if (IsPasswordParam(param)) return true;
  return false;
}

std::string UrlWithoutPassword(const std::string& url) {
  if (!UrlHasPassword(url)) return url;
  return JoinWithoutPassword(SplitLabUrl(url));
}
