#include "stand_in_host/pulse_win.h"

#include "base/counter_clock_win.h"

namespace zanvor {
namespace {

constexpr char kPulseClass[] = "ZanvorHostPulse";
constexpr UINT_PTR kPulseTimer = 1;
constexpr UINT kPulseMessage = WM_APP + 0x5A;

}  // namespace

std::unique_ptr<HostPulse> HostPulse::Create() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &HostPulse::Procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kPulseClass;
  RegisterClassA(&windowClass);  // fails harmlessly when registered before
  UniqueWindow window(
      CreateWindowExA(0, kPulseClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
  if (!window) return nullptr;
  std::unique_ptr<HostPulse> pulse(new HostPulse(std::move(window)));
  SetWindowLongPtrA(pulse->window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pulse.get()));
  return pulse;
}

bool HostPulse::Start(UINT milliseconds) {
  KillTimer(window_.get(), kPulseTimer);
  interval_ = milliseconds;
  ticks_ = posted_ = handled_ = longestUs_ = 0;
  postedAt_.clear();
  if (milliseconds == 0) return true;
  return SetTimer(window_.get(), kPulseTimer, milliseconds, nullptr) != 0;
}

std::string HostPulse::Text() const {
  return "interval_ms=" + std::to_string(interval_) + " ticks=" + std::to_string(ticks_) +
         " posted=" + std::to_string(posted_) + " handled=" + std::to_string(handled_) +
         " longest_us=" + std::to_string(longestUs_);
}

void HostPulse::OnTick() {
  ++ticks_;
  postedAt_.push_back(CounterMicroseconds());
  if (PostMessageA(window_.get(), kPulseMessage, 0, 0)) {
    ++posted_;
  } else {
    postedAt_.pop_back();
  }
}

void HostPulse::OnPosted() {
  if (postedAt_.empty()) return;  // posted before the last Start
  const uint64_t waited = CounterMicroseconds() - postedAt_.front();
  postedAt_.pop_front();
  ++handled_;
  if (waited > longestUs_) longestUs_ = waited;
}

LRESULT CALLBACK HostPulse::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* pulse = reinterpret_cast<HostPulse*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (pulse != nullptr && message == WM_TIMER && wParam == kPulseTimer) {
    pulse->OnTick();
    return 0;
  }
  if (pulse != nullptr && message == kPulseMessage) {
    pulse->OnPosted();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace zanvor
