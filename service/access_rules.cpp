#include "service/access_rules.h"

#include <algorithm>
#include <cctype>
#include <set>

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

// A buffer of 8192 units holds 8191 characters of AllowedOrigins.
constexpr size_t kOriginsReadLimit = 8192;

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\v\f");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\v\f") - begin + 1);
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

std::string OriginText(const WebOrigin& origin) {
  if (origin.opaque) return "null";
  std::string text = origin.scheme + "://" + origin.host;
  if (DefaultPort(origin.scheme) != origin.port) text += ":" + std::to_string(origin.port);
  return text;
}

std::vector<std::string> SplitOriginList(const std::string& text) { return SplitList(text); }

SiteStanding AccessRules::StandingOf(const std::string& origin, uint16_t servicePort) const {
  if (origin.empty()) return SiteStanding::kAllowed;
  std::optional<WebOrigin> parsed = ParseWebOrigin(origin);
  if (!parsed) return SiteStanding::kNotAllowed;
  if (!parsed->opaque && parsed->scheme == "http" && parsed->port == servicePort &&
      (parsed->host == "127.0.0.1" || parsed->host == "localhost" || parsed->host == "[::1]"))
    return SiteStanding::kAllowed;
  const auto listed = [&](const std::vector<WebOrigin>& list) {
    return std::find(list.begin(), list.end(), *parsed) != list.end();
  };
  if (listed(deniedOrigins)) return SiteStanding::kRefused;
  if (anyOrigin || listed(allowedOrigins)) return SiteStanding::kAllowed;
  // A page from a file names no site the operator could judge.
  if (parsed->opaque || !askOperator) return SiteStanding::kNotAllowed;
  return SiteStanding::kUndecided;
}

namespace {

std::vector<WebOrigin> ReadOriginList(const std::vector<std::string>& items, const char* key,
                                      std::vector<std::string>& notices) {
  std::vector<WebOrigin> origins;
  for (const std::string& item : items) {
    if (item == "*") continue;
    if (std::optional<WebOrigin> origin = ParseWebOrigin(item))
      origins.push_back(*origin);
    else
      notices.push_back(std::string("[Security] ") + key + ": \"" + item +
                        "\" is no origin (scheme://host[:port]); ignored");
  }
  return origins;
}

}  // namespace

AccessRules MakeAccessRules(const std::string& bind, const std::string& allowedOrigins,
                            const std::string& deniedOrigins, const std::string& askOperator) {
  AccessRules rules;
  const std::string scope = Lower(bind);
  if (scope == "loopback") {
    rules.bind = BindScope::kLoopbackOnly;
  } else if (!scope.empty() && scope != "any") {
    rules.bind = BindScope::kLoopbackOnly;
    rules.notices.push_back("[IP] Bind=" + bind + " is neither any nor loopback: listening on loopback only");
  }
  const std::vector<std::string> allowed = SplitList(allowedOrigins);
  rules.anyOrigin = std::find(allowed.begin(), allowed.end(), "*") != allowed.end();
  rules.allowedOrigins = ReadOriginList(allowed, "AllowedOrigins", rules.notices);
  rules.deniedOrigins = ReadOriginList(SplitList(deniedOrigins), "DeniedOrigins", rules.notices);
  const std::string ask = Trim(askOperator);
  if (ask == "0") {
    rules.askOperator = false;
  } else if (!ask.empty() && ask != "1") {
    rules.askOperator = false;
    rules.notices.push_back("[Security] AskOperator=" + askOperator +
                            " is neither 0 nor 1: the operator is not asked; only the listed origins");
  }
  return rules;
}

AccessRules AccessRulesFromSettingsText(const std::string& text) {
  static const std::set<std::string> kIpKeys = {"port", "restart", "com", "bind"};
  static const std::set<std::string> kSecurityKeys = {"allowedorigins", "deniedorigins", "askoperator"};
  std::vector<std::string> notices, binds, allowedLists, deniedLists, asks;
  std::set<std::string> seen;
  std::string section;
  bool anySection = false, unknownIpKey = false, unknownSecurityKey = false;
  const auto take = [&](const std::string& key, const std::string& value) {
    if (key == "bind") binds.push_back(value);
    if (key == "allowedorigins") allowedLists.push_back(value);
    if (key == "deniedorigins") deniedLists.push_back(value);
    if (key == "askoperator") asks.push_back(value);
  };
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      section = Lower(Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
      anySection = true;
      if ((section == "ip" || section == "security") && !seen.insert(section).second)
        notices.push_back(std::string("Config.ini: the section ") + (section == "ip" ? "[IP]" : "[Security]") +
                          " stands more than once; the narrower of its settings counts");
      continue;
    }
    const size_t equals = line.find('=');
    const std::string key = Lower(Trim(line.substr(0, equals)));
    std::string value = equals == std::string::npos ? "" : Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    if (!anySection) {
      notices.push_back("Config.ini: \"" + key + "\" stands before any section and is not read as written");
      take(key, value);
    } else if (section == "ip") {
      if (key == "bind") take(key, value);
      if (!kIpKeys.count(key)) {
        notices.push_back("Config.ini: [IP] " + key + " is no setting of this program: listening on loopback only");
        unknownIpKey = true;
      }
    } else if (section == "security") {
      take(key, value);
      if (!kSecurityKeys.count(key)) {
        notices.push_back("Config.ini: [Security] " + key +
                          " is no setting of this program: only the listed origins, without questions");
        unknownSecurityKey = true;
      }
    }
  }

  // Where the file says more than one thing, the narrowest: loopback if any Bind asks for less than
  // every interface; only the origins that every allowed list names, every refused one; no
  // questions if any AskOperator says so.
  std::string bind = binds.empty() ? "" : binds.front();
  for (const std::string& b : binds)
    if (Lower(b) != "any" && !b.empty()) bind = Lower(b) == "loopback" ? "loopback" : b;
  if (unknownIpKey) bind = "loopback";
  const auto readWhole = [&](std::string list, const char* key) {
    if (list.size() < kOriginsReadLimit) return list;
    // The platform's read stops here, in the middle of an entry: only the entries read whole.
    list.resize(kOriginsReadLimit - 1);
    const size_t lastSeparator = list.find_last_of(", \t;");
    list.resize(lastSeparator == std::string::npos ? 0 : lastSeparator);
    notices.push_back(std::string("Config.ini: [Security] ") + key + " is longer than " +
                      std::to_string(kOriginsReadLimit - 1) + " characters: only the entries before that are read");
    return list;
  };
  // "*" stands for every site: met with a list of some, it gives those.
  const auto isAny = [](const std::vector<std::string>& items) {
    return std::find(items.begin(), items.end(), "*") != items.end();
  };
  std::vector<std::string> allowed;
  for (size_t i = 0; i < allowedLists.size(); ++i) {
    const std::vector<std::string> items = SplitList(readWhole(allowedLists[i], "AllowedOrigins"));
    if (i == 0 || isAny(allowed)) {
      allowed = items;
    } else if (!isAny(items)) {
      std::vector<std::string> kept;
      for (const std::string& item : allowed) {
        const std::optional<WebOrigin> o = ParseWebOrigin(item);
        for (const std::string& other : items)
          if (o && ParseWebOrigin(other) == o) {
            kept.push_back(item);
            break;
          }
      }
      allowed = kept;
    }
  }
  if (unknownSecurityKey) allowed.erase(std::remove(allowed.begin(), allowed.end(), "*"), allowed.end());
  std::string denied;
  for (const std::string& list : deniedLists) denied += " " + readWhole(list, "DeniedOrigins");
  std::string ask = asks.empty() ? "" : asks.front();
  for (const std::string& a : asks)
    if (Trim(a) != "1" && !Trim(a).empty()) ask = a;
  if (unknownSecurityKey) ask = "0";

  std::string joined;
  for (const std::string& item : allowed) joined += (joined.empty() ? "" : ",") + item;
  AccessRules rules = MakeAccessRules(bind, joined, denied, ask);
  rules.notices.insert(rules.notices.begin(), notices.begin(), notices.end());
  return rules;
}

AccessRules ReadAccessRules(const std::u16string& settingsPath) {
  return AccessRulesFromSettingsText(SettingsFileText(settingsPath));
}

}  // namespace kavenor
