// Who may connect: the addresses the service listens on ([IP] Bind) and the web sites whose pages
// may use the reader ([Security] AllowedOrigins and DeniedOrigins, and whether the operator is asked
// about the others: AskOperator). Without the keys: every interface, and the operator decides.
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

// Where a page's origin stands.
enum class SiteStanding {
  kAllowed,     // may use the reader
  kRefused,     // the operator said no ([Security] DeniedOrigins)
  kNotAllowed,  // not listed, and nobody is to be asked: refused at the handshake
  kUndecided,   // the operator is to be asked
};

struct AccessRules {
  BindScope bind = BindScope::kAnyInterface;
  bool anyOrigin = false;    // AllowedOrigins=*: every site, without questions
  bool askOperator = true;   // whether the operator is asked about sites neither list names
  std::vector<WebOrigin> allowedOrigins;
  std::vector<WebOrigin> deniedOrigins;
  // What the settings held that was not understood, one line each, for standard output at start.
  std::vector<std::string> notices;

  // Where a WebSocket handshake with this Origin header stands. `origin` is empty when the request
  // had none (not a browser): allowed, as are the service's own pages on `servicePort`. Pages
  // opened from a file ("null") and texts that are no origin are never asked about.
  SiteStanding StandingOf(const std::string& origin, uint16_t servicePort) const;
};

// An origin as the settings and the operator's question write it: "https://a.cn",
// "http://10.1.2.3:8080" (the port only when not the scheme's own), or "null".
std::string OriginText(const WebOrigin& origin);

// The entries of a list setting: separated by commas, semicolons or blanks.
std::vector<std::string> SplitOriginList(const std::string& text);

// Reads [IP] Bind and [Security] AllowedOrigins, DeniedOrigins and AskOperator of the settings
// file. What cannot be read as written never opens the service wider, and each such thing gets a
// notice: a Bind value other than "any" or "loopback" (loopback), an AskOperator value other than
// 0 or 1 (no questions), a key of [IP] or [Security] that the program does not know (loopback; only
// the listed origins, no questions), a repeated section (the narrower Bind; only the origins every
// allowed list names, every refused one; no questions if any says so), keys before any section,
// and a list longer than the platform reads (only the entries read whole). A UTF-16 file is read
// as Windows reads it.
AccessRules ReadAccessRules(const std::u16string& settingsPath);

// The same from the file's text (UTF-8), for the tests.
AccessRules AccessRulesFromSettingsText(const std::string& text);

// The same from the values (UTF-8): Bind, AllowedOrigins, DeniedOrigins, AskOperator.
AccessRules MakeAccessRules(const std::string& bind, const std::string& allowedOrigins,
                            const std::string& deniedOrigins = "", const std::string& askOperator = "");

}  // namespace kavenor
