// The web sites whose pages may use the reader and those the operator has refused, as the service
// holds them while it runs and Config.ini keeps them. The network loop asks it at each handshake
// and tells it the operator's answers; the settings window shows the sites and removes one. Any
// thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "service/access_rules.h"

namespace kavenor {

class SiteDecisions {
 public:
  struct Site {
    std::string origin;  // as OriginText writes it, or "*" for every site
    bool allowed;
  };

  // The sites of `rules`; answers are written to the settings file at `settingsPath`.
  void Load(const AccessRules& rules, const std::u16string& settingsPath);

  SiteStanding StandingOf(const std::string& origin, uint16_t servicePort) const;

  // The operator's answer about `origin`: in force at once, and written into [Security]
  // AllowedOrigins or DeniedOrigins (and out of the other). False when it could not be written; it
  // holds until the program ends all the same.
  bool Remember(const std::string& origin, bool allowed);

  // The site goes from both lists: the operator is asked about it again (or, without questions, it
  // is refused). False when it could not be written.
  bool Forget(const std::string& origin);

  // The allowed sites, then the refused ones, in the order of the settings.
  std::vector<Site> Sites() const;

 private:
  bool Rewrite(const std::string& origin, int list);  // list: 1 allowed, -1 refused, 0 none

  mutable std::mutex mutex_;
  AccessRules rules_;
  std::u16string settingsPath_;
};

}  // namespace kavenor
