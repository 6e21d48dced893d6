#include "cli/windows_settings_win.h"

#include <windows.h>

#include <string>
#include <vector>

namespace zanvor {
namespace {

constexpr char kFirewallPolicy[] =
    "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy";
constexpr char kFirewallByPolicy[] = "SOFTWARE\\Policies\\Microsoft\\WindowsFirewall";

struct Profile {
  const char* shown;
  const char* localKey;   // under kFirewallPolicy
  const char* policyKey;  // under kFirewallByPolicy
};
const Profile kProfiles[] = {
    {"Domain", "DomainProfile", "DomainProfile"},
    {"Private", "StandardProfile", "PrivateProfile"},
    {"Public", "PublicProfile", "PublicProfile"},
};

// Closes the key it holds; RegCloseKey sets no last error worth keeping.
class RegistryKey {
 public:
  // The 64-bit view: a 32-bit program on 64-bit Windows would otherwise read
  // SOFTWARE from WOW6432Node, where no policy lives.
  explicit RegistryKey(const std::string& path) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key_) !=
        ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool Dword(const char* name, uint32_t* value) const {
    if (key_ == nullptr) return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
      return false;
    }
    *value = data;
    return true;
  }

  // Every REG_SZ value's text.
  void Texts(std::vector<std::string>* texts) const {
    if (key_ == nullptr) return;
    std::vector<char> name(16384);
    std::vector<BYTE> data(64 * 1024);
    for (DWORD index = 0;; ++index) {
      DWORD nameSize = static_cast<DWORD>(name.size());
      DWORD dataSize = static_cast<DWORD>(data.size()) - 1;
      DWORD type = 0;
      const LONG r = RegEnumValueA(key_, index, name.data(), &nameSize, nullptr, &type, data.data(),
                                   &dataSize);
      if (r == ERROR_NO_MORE_ITEMS) return;
      if (r != ERROR_SUCCESS || type != REG_SZ) continue;
      std::string text(reinterpret_cast<const char*>(data.data()), dataSize);
      while (!text.empty() && text.back() == 0) text.pop_back();
      texts->push_back(std::move(text));
    }
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

PolicyValue ReadMailslotPolicy(const char* key) {
  PolicyValue value;
  value.present = RegistryKey(key).Dword(kMailslotPolicyValue, &value.value);
  return value;
}

FirewallState ReadFirewallState() {
  FirewallState state;
  for (const Profile& profile : kProfiles) {
    uint32_t enabled = 0;
    bool found = RegistryKey(std::string(kFirewallByPolicy) + "\\" + profile.policyKey)
                     .Dword("EnableFirewall", &enabled);
    if (!found) {
      found = RegistryKey(std::string(kFirewallPolicy) + "\\" + profile.localKey)
                  .Dword("EnableFirewall", &enabled);
    }
    if (!found) continue;
    state.settingsFound = true;
    if (enabled != 0) state.profilesOn.push_back(profile.shown);
  }
  RegistryKey(std::string(kFirewallPolicy) + "\\FirewallRules").Texts(&state.ruleTexts);
  RegistryKey(std::string(kFirewallByPolicy) + "\\FirewallRules").Texts(&state.ruleTexts);
  return state;
}

}  // namespace zanvor
