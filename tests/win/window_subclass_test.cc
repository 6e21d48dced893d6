// The library's subclass owner on real windows, beside a program's binding
// that subclasses on top of it and later puts back, unchecked, what it saved.
#include <windows.h>

#include <utility>
#include <vector>

#include "base/window_subclass_win.h"
#include "gtest/gtest.h"

namespace zanvor {
namespace {

constexpr UINT kProbe = WM_APP + 7;
constexpr char kClassName[] = "ZanvorSubclassTestWindow";

// Who saw the last probe, in the order they saw it: 'b' the binding, 'h'
// the handler, 'w' the window's own procedure (which answers it with 42).
std::vector<char> seen;

LRESULT CALLBACK WindowOwnProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kProbe) {
    seen.push_back('w');
    return 42;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT Handler(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kProbe) seen.push_back('h');
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

// A program's event binding: one per window, restored blindly.
struct Binding {
  HWND window = nullptr;
  WNDPROC saved = nullptr;
};
std::vector<Binding> bindings;

LRESULT CALLBACK BindingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  for (const Binding& b : bindings) {
    if (b.window != window) continue;
    if (message == kProbe) seen.push_back('b');
    return CallWindowProcA(b.saved, window, message, wParam, lParam);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class WindowSubclassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &WindowOwnProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);
  }
  void TearDown() override {
    // Destroying the windows frees the entries their pass-throughs held.
    for (HWND w : windows_) DestroyWindow(w);
    bindings.clear();
    UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
  }

  HWND NewWindow() {
    HWND w = CreateWindowExA(0, kClassName, "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    EXPECT_NE(w, nullptr);
    windows_.push_back(w);
    return w;
  }
  static void Bind(HWND w) {
    bindings.push_back({w, reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
                               w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BindingProc)))});
  }
  static void Unbind(HWND w) {
    for (size_t i = 0; i < bindings.size(); ++i) {
      if (bindings[i].window != w) continue;
      SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bindings[i].saved));
      bindings.erase(bindings.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
  // Sends the probe; gives who saw it, in order, after checking that the
  // window's own procedure answered it.
  static std::string Probe(HWND w) {
    seen.clear();
    EXPECT_EQ(SendMessageA(w, kProbe, 0, 0), 42);
    return std::string(seen.begin(), seen.end());
  }
  static WNDPROC Current(HWND w) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(w, GWLP_WNDPROC));
  }

 private:
  std::vector<HWND> windows_;
};

TEST_F(WindowSubclassTest, OnTopItHandlesEveryMessageAndResetPutsTheWindowBackExactly) {
  HWND w = NewWindow();
  WindowSubclass subclass;
  ASSERT_TRUE(subclass.Install(w, &Handler));
  EXPECT_EQ(Current(w), subclass.procedure());
  EXPECT_EQ(subclass.previous(), &WindowOwnProc);
  EXPECT_EQ(Probe(w), "hw");
  SetLastError(12345);
  subclass.reset();
  EXPECT_EQ(GetLastError(), 12345u);
  EXPECT_FALSE(subclass.installed());
  EXPECT_EQ(Current(w), &WindowOwnProc);
  EXPECT_EQ(Probe(w), "w");
}

TEST_F(WindowSubclassTest, UnderABindingItStaysAPassThroughThatTheUnbindingPutsBackSafely) {
  HWND w = NewWindow();
  WindowSubclass subclass;
  ASSERT_TRUE(subclass.Install(w, &Handler));
  const WNDPROC entry = subclass.procedure();
  Bind(w);
  EXPECT_EQ(Probe(w), "bhw");
  subclass.reset();
  // The binding is still in the chain, and nothing of ours handles.
  EXPECT_EQ(Current(w), &BindingProc);
  EXPECT_EQ(Probe(w), "bw");
  Unbind(w);
  EXPECT_EQ(Current(w), entry);
  EXPECT_EQ(Probe(w), "w");
}

TEST_F(WindowSubclassTest, ASubclassOverAPassThroughForwardsToWhatItReplacedAndNeverLoops) {
  HWND w = NewWindow();
  WindowSubclass first;
  ASSERT_TRUE(first.Install(w, &Handler));
  const WNDPROC passThrough = first.procedure();
  Bind(w);
  first.reset();

  // The next load: the chain is binding -> pass-through -> window.
  WindowSubclass second;
  ASSERT_TRUE(second.Install(w, &Handler));
  EXPECT_NE(second.procedure(), passThrough);
  EXPECT_EQ(second.previous(), &BindingProc);
  EXPECT_EQ(Probe(w), "hbw");
  second.reset();  // on top: taken off
  EXPECT_EQ(Current(w), &BindingProc);
  EXPECT_EQ(Probe(w), "bw");

  // Unbound, the pass-through is on top again, and the load after takes
  // it back into service: one entry, one handling, off cleanly.
  Unbind(w);
  WindowSubclass third;
  ASSERT_TRUE(third.Install(w, &Handler));
  EXPECT_EQ(third.procedure(), passThrough);
  EXPECT_EQ(Current(w), passThrough);
  EXPECT_EQ(Probe(w), "hw");
  third.reset();
  EXPECT_EQ(Current(w), &WindowOwnProc);
  EXPECT_EQ(Probe(w), "w");
}

TEST_F(WindowSubclassTest, MoveAssignmentTakesTheHeldSubclassOffAndTakesTheOther) {
  HWND w1 = NewWindow();
  HWND w2 = NewWindow();
  WindowSubclass a;
  WindowSubclass b;
  ASSERT_TRUE(a.Install(w1, &Handler));
  ASSERT_TRUE(b.Install(w2, &Handler));
  const WNDPROC onW2 = b.procedure();
  a = std::move(b);
  EXPECT_FALSE(b.installed());
  EXPECT_EQ(Current(w1), &WindowOwnProc);
  EXPECT_EQ(a.procedure(), onW2);
  EXPECT_EQ(Probe(w2), "hw");
  a = std::move(a);  // self-move keeps it
  EXPECT_EQ(Probe(w2), "hw");
  {
    WindowSubclass moved(std::move(a));
    EXPECT_FALSE(a.installed());
    EXPECT_EQ(Probe(w2), "hw");
  }
  EXPECT_EQ(Current(w2), &WindowOwnProc);
}

TEST_F(WindowSubclassTest, WhenEveryEntryIsHeldInstallFailsAndTheWindowIsUntouched) {
  // Each window keeps an entry as a pass-through under its binding.
  for (int i = 0; i < WindowSubclass::kEntries; ++i) {
    HWND w = NewWindow();
    WindowSubclass s;
    ASSERT_TRUE(s.Install(w, &Handler)) << i;
    Bind(w);
  }
  HWND last = NewWindow();
  WindowSubclass refused;
  EXPECT_FALSE(refused.Install(last, &Handler));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_FALSE(refused.installed());
  EXPECT_EQ(Current(last), &WindowOwnProc);

  // A window's end frees what its pass-through held.
  HWND first = bindings.front().window;
  DestroyWindow(first);
  EXPECT_TRUE(refused.Install(last, &Handler));
  EXPECT_EQ(Probe(last), "hw");
}

TEST_F(WindowSubclassTest, ANonWindowIsRefusedAndNothingIsHeld) {
  WindowSubclass s;
  EXPECT_FALSE(s.Install(nullptr, &Handler));
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_FALSE(s.installed());
  // The entry it tried is free again: every entry can still be installed.
  std::vector<WindowSubclass> all(WindowSubclass::kEntries);
  for (auto& one : all) EXPECT_TRUE(one.Install(NewWindow(), &Handler));
}

}  // namespace
}  // namespace zanvor
