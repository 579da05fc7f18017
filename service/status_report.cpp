#include "service/status_report.h"

#include <cstdio>

#include "common/device_model.h"
#include "common/text.h"

namespace kavenor {

const char* ProductVersion() { return KAVENOR_PRODUCT_VERSION; }

std::string JsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string StatusJson(const ServiceStatus& s, const std::string& version) {
  std::string json = "{\"product\":\"Kavenor\",\"version\":" + JsonQuoted(version) +
                     ",\"origin\":" + (s.origin.empty() ? "null" : JsonQuoted(s.origin)) +
                     ",\"access\":" + JsonQuoted(s.access);
  if (s.access == "allowed") {
    const char16_t* name = DeviceModelName(s.model);
    json += ",\"model\":" + std::to_string(s.model) +
            ",\"modelName\":" + (name ? JsonQuoted(Utf16ToUtf8(name)) : std::string("null")) + ",\"sdk\":{";
    const char* folders[] = {"ORV5A", "ORV5U", "ORV5ULN"};
    for (int i = 0; i < 3; ++i)
      json += std::string(i ? "," : "") + "\"" + folders[i] + "\":" + (s.sdkLoaded[i] ? "true" : "false");
    json += "},\"reader\":{\"running\":" + std::string(s.commandRunning ? "true" : "false") +
            ",\"waiting\":" + std::to_string(s.commandsWaiting) +
            ",\"otherSites\":{\"running\":" + std::string(s.otherSitesRunning ? "true" : "false") +
            ",\"waiting\":" + std::to_string(s.otherSitesWaiting) + "}}";
  }
  return json + "}";
}

}  // namespace kavenor
