// Who may connect: the addresses the service listens on ([IP] Bind) and the web origins whose
// pages may open a WebSocket ([Security] AllowedOrigins). Without the keys, anyone may, on every
// interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavenor {

// A web origin as browsers send it: scheme, host and port, compared without regard to case; the
// port is the scheme's default when none is written. The opaque origin of a page opened from a file
// is the text "null".
struct WebOrigin {
  std::string scheme;  // lower case
  std::string host;    // lower case; an IPv6 address keeps its brackets
  uint16_t port = 0;
  bool opaque = false;  // "null"

  bool operator==(const WebOrigin& other) const;
};

// "https://Counter.example.cn", "http://10.1.2.3:8080", "http://[::1]:7415" or "null"; a trailing
// "/" is allowed. Anything else (a path, a user name, a bad port, a scheme without a default
// port and no port given) is no origin.
std::optional<WebOrigin> ParseWebOrigin(const std::string& text);

enum class BindScope { kAnyInterface, kLoopbackOnly };

struct AccessRules {
  BindScope bind = BindScope::kAnyInterface;
  // With a list (even one whose every entry was a mistake), only the listed origins and the
  // service's own pages; without one, every origin.
  bool originsListed = false;
  std::vector<WebOrigin> allowedOrigins;
  // What the settings held that was not understood, one line each, for standard output at start.
  std::vector<std::string> notices;

  // Whether a WebSocket handshake with this Origin header may go on. `origin` is empty when the
  // request had none (not a browser). The service's own pages on `servicePort` are always allowed.
  bool AllowsOrigin(const std::string& origin, uint16_t servicePort) const;
};

// Reads [IP] Bind and [Security] AllowedOrigins of the settings file. What cannot be read as written
// never opens the service wider, and each such thing gets a notice: a Bind value other than "any" or
// "loopback" (loopback), a key of [IP] or [Security] that the program does not know (loopback; only
// the listed origins), a repeated section (the narrower Bind; only the origins every list names),
// keys before any section, and a list longer than the platform reads (only the entries read whole).
// A UTF-16 file is read as Windows reads it.
AccessRules ReadAccessRules(const std::u16string& settingsPath);

// The same from the file's text (UTF-8), for the tests.
AccessRules AccessRulesFromSettingsText(const std::string& text);

// The same from the two texts (UTF-8), for the tests.
AccessRules MakeAccessRules(const std::string& bind, const std::string& allowedOrigins);

}  // namespace kavenor
