// GET /status: what a page may learn of the service before and while it uses it, as JSON that any
// page may read (CORS). A page of a site that may not use the reader learns only the product, the
// version and where its site stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavenor {

struct ServiceStatus {
  std::string origin;  // the request's Origin header as the settings write it; empty: none
  // "allowed", "refused" (by the operator), "asking" (the operator is being asked), "ask" (the
  // operator would be asked once a page connects) or "not allowed".
  std::string access;
  int32_t model = 0;
  bool sdkLoaded[3] = {};  // ORV5A, ORV5U, ORV5ULN folders
  bool commandRunning = false;
  size_t commandsWaiting = 0;
  // The same, of the pages of other sites than the asking one: what holds that page up.
  bool otherSitesRunning = false;
  size_t otherSitesWaiting = 0;
};

// The JSON object: {"product":"Kavenor","version":…,"origin":…,"access":…} and, for an allowed
// origin, "model", "modelName", "sdk" {"ORV5A":…,"ORV5U":…,"ORV5ULN":…} and "reader"
// {"running":…,"waiting":…,"otherSites":{"running":…,"waiting":…}}.
std::string StatusJson(const ServiceStatus& status, const std::string& version);

// The product's version ("1.1.0"), from the build.
const char* ProductVersion();

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
std::string JsonQuoted(const std::string& text);

}  // namespace kavenor
