#include "service/site_decisions.h"

#include <algorithm>
#include <optional>

#include "common/settings.h"
#include "common/text.h"

namespace kavenor {
namespace {

// Enough for any list the settings window could have written; longer ones are kept as they are.
constexpr size_t kListReadCapacity = 1 << 20;

bool SameSite(const std::string& entry, const std::string& origin) {
  if (entry == "*" || origin == "*") return entry == origin;
  const std::optional<WebOrigin> a = ParseWebOrigin(entry), b = ParseWebOrigin(origin);
  return a && b && *a == *b;
}

// The list setting without `origin`, and with it at the end when `add`; the other entries as they
// stand, the ones the program could not read included.
std::u16string Edited(const std::u16string& value, const std::string& origin, bool add) {
  std::string edited;
  for (const std::string& entry : SplitOriginList(Utf16ToUtf8(value)))
    if (!SameSite(entry, origin)) edited += (edited.empty() ? "" : ",") + entry;
  if (add) edited += (edited.empty() ? "" : ",") + origin;
  return Utf8ToUtf16(edited);
}

}  // namespace

void SiteDecisions::Load(const AccessRules& rules, const std::u16string& settingsPath) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_ = rules;
  settingsPath_ = settingsPath;
}

SiteStanding SiteDecisions::StandingOf(const std::string& origin, uint16_t servicePort) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rules_.StandingOf(origin, servicePort);
}

bool SiteDecisions::Remember(const std::string& origin, bool allowed) { return Rewrite(origin, allowed ? 1 : -1); }

bool SiteDecisions::Forget(const std::string& origin) { return Rewrite(origin, 0); }

bool SiteDecisions::Rewrite(const std::string& origin, int list) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::optional<WebOrigin> site = ParseWebOrigin(origin);
  if (origin == "*") {
    rules_.anyOrigin = list > 0;
  } else if (site) {
    for (std::vector<WebOrigin>* held : {&rules_.allowedOrigins, &rules_.deniedOrigins})
      held->erase(std::remove(held->begin(), held->end(), *site), held->end());
    if (list > 0) rules_.allowedOrigins.push_back(*site);
    if (list < 0) rules_.deniedOrigins.push_back(*site);
  } else {
    return false;
  }
  const std::string text = site ? OriginText(*site) : origin;
  bool written = true;
  for (const TextSetting* setting : {&kAllowedOriginsSetting, &kDeniedOriginsSetting}) {
    const bool add = (setting == &kAllowedOriginsSetting) ? list > 0 : list < 0;
    const std::u16string value = ReadSetting(*setting, settingsPath_, kListReadCapacity);
    const std::u16string edited = Edited(value, text, add);
    if (edited != value) written = WriteSetting(*setting, edited, settingsPath_) && written;
  }
  return written;
}

std::vector<SiteDecisions::Site> SiteDecisions::Sites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Site> sites;
  if (rules_.anyOrigin) sites.push_back({"*", true});
  for (const WebOrigin& origin : rules_.allowedOrigins) sites.push_back({OriginText(origin), true});
  for (const WebOrigin& origin : rules_.deniedOrigins) sites.push_back({OriginText(origin), false});
  return sites;
}

}  // namespace kavenor
