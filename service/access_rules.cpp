#include "service/access_rules.h"

#include <algorithm>
#include <cctype>

#include "common/settings.h"
#include "common/text.h"

namespace kavenor {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::optional<uint16_t> DefaultPort(const std::string& scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  return std::nullopt;
}

bool IsSchemeChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

bool IsHostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t' || c == ';') {
      if (!item.empty()) items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

}  // namespace

bool WebOrigin::operator==(const WebOrigin& other) const {
  if (opaque || other.opaque) return opaque == other.opaque;
  return scheme == other.scheme && host == other.host && port == other.port;
}

std::optional<WebOrigin> ParseWebOrigin(const std::string& text) {
  std::string s = Lower(text);
  if (s == "null") return WebOrigin{{}, {}, 0, true};
  if (!s.empty() && s.back() == '/') s.pop_back();

  const size_t separator = s.find("://");
  if (separator == std::string::npos || separator == 0) return std::nullopt;
  WebOrigin origin;
  origin.scheme = s.substr(0, separator);
  if (!std::all_of(origin.scheme.begin(), origin.scheme.end(), IsSchemeChar)) return std::nullopt;

  std::string rest = s.substr(separator + 3);
  std::string portText;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string::npos) return std::nullopt;
    origin.host = rest.substr(0, close + 1);
    const std::string inside = origin.host.substr(1, origin.host.size() - 2);
    if (inside.empty() || inside.find_first_not_of("0123456789abcdef:.") != std::string::npos) return std::nullopt;
    rest = rest.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const size_t colon = rest.find(':');
    origin.host = rest.substr(0, colon);
    if (colon != std::string::npos) {
      portText = rest.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
    if (origin.host.empty() || !std::all_of(origin.host.begin(), origin.host.end(), IsHostChar)) return std::nullopt;
  }

  if (portText.empty()) {
    std::optional<uint16_t> port = DefaultPort(origin.scheme);
    if (!port) return std::nullopt;
    origin.port = *port;
  } else {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const unsigned long port = std::stoul(portText);
    if (port < 1 || port > 65535) return std::nullopt;
    origin.port = static_cast<uint16_t>(port);
  }
  return origin;
}

bool AccessRules::AllowsOrigin(const std::string& origin, uint16_t servicePort) const {
  if (!originsListed || origin.empty()) return true;
  std::optional<WebOrigin> parsed = ParseWebOrigin(origin);
  if (!parsed) return false;
  if (!parsed->opaque && parsed->scheme == "http" && parsed->port == servicePort &&
      (parsed->host == "127.0.0.1" || parsed->host == "localhost" || parsed->host == "[::1]"))
    return true;
  return std::find(allowedOrigins.begin(), allowedOrigins.end(), *parsed) != allowedOrigins.end();
}

AccessRules MakeAccessRules(const std::string& bind, const std::string& allowedOrigins) {
  AccessRules rules;
  const std::string scope = Lower(bind);
  if (scope == "loopback") {
    rules.bind = BindScope::kLoopbackOnly;
  } else if (!scope.empty() && scope != "any") {
    rules.bind = BindScope::kLoopbackOnly;
    rules.notices.push_back("[IP] Bind=" + bind + " is neither any nor loopback: listening on loopback only");
  }
  const std::vector<std::string> items = SplitList(allowedOrigins);
  rules.originsListed = !items.empty();
  for (const std::string& item : items) {
    if (std::optional<WebOrigin> origin = ParseWebOrigin(item))
      rules.allowedOrigins.push_back(*origin);
    else
      rules.notices.push_back("[Security] AllowedOrigins: \"" + item + "\" is no origin (scheme://host[:port]); ignored");
  }
  return rules;
}

AccessRules ReadAccessRules(const std::u16string& settingsPath) {
  return MakeAccessRules(Utf16ToUtf8(ReadSetting(kBindSetting, settingsPath, 64)),
                         Utf16ToUtf8(ReadSetting(kAllowedOriginsSetting, settingsPath, 8192)));
}

}  // namespace kavenor
