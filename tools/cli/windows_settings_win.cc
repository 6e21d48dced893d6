#include "cli/windows_settings_win.h"

#include <netfw.h>
#include <objbase.h>
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

// A rule's program path may be written with variables
// ("App=%ProgramFiles%\app\vfp9.exe"); the running program's path has none.
std::string ExpandedText(const std::string& text) {
  const DWORD size = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  if (size == 0) return text;
  std::string expanded(size, '\0');
  const DWORD written = ExpandEnvironmentStringsA(text.c_str(), &expanded[0], size);
  if (written == 0 || written > size) return text;
  expanded.resize(written - 1);
  return expanded;
}

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
      texts->push_back(ExpandedText(text));
    }
  }

 private:
  HKEY key_ = nullptr;
};

// The firewall's own answer to which profiles are active now: the registry
// keeps each network's category, but not which networks are connected.
// False when the firewall service does not answer (Wine has none).
bool ReadActiveProfiles(std::vector<std::string>* active) {
  // CLSID_NetFwPolicy2 and IID_INetFwPolicy2, spelt out: mingw's netfw.h
  // declares them without defining them.
  static const GUID kPolicyClass = {
      0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
  static const GUID kPolicyInterface = {
      0x98325047, 0xc671, 0x4174, {0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0, 0x31, 0x86}};
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INetFwPolicy2* policy = nullptr;
  LONG types = 0;
  bool known = SUCCEEDED(CoCreateInstance(kPolicyClass, nullptr, CLSCTX_INPROC_SERVER,
                                          kPolicyInterface, reinterpret_cast<void**>(&policy)));
  if (known) {
    known = SUCCEEDED(policy->get_CurrentProfileTypes(&types));
    policy->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  if (!known) return false;
  if (types & NET_FW_PROFILE2_DOMAIN) active->push_back("Domain");
  if (types & NET_FW_PROFILE2_PRIVATE) active->push_back("Private");
  if (types & NET_FW_PROFILE2_PUBLIC) active->push_back("Public");
  return true;
}

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
  state.activeKnown = ReadActiveProfiles(&state.activeProfiles);
  RegistryKey(std::string(kFirewallPolicy) + "\\FirewallRules").Texts(&state.ruleTexts);
  RegistryKey(std::string(kFirewallByPolicy) + "\\FirewallRules").Texts(&state.ruleTexts);
  return state;
}

}  // namespace zanvor
