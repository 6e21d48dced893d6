// Move-only owners for Win32 handles: one template, a traits type per kind of
// handle naming its invalid value and its close function. Closing keeps the
// thread's last-error value, so an owner going out of scope between a failing
// call and GetLastError cannot change what the caller reads.
#ifndef ZANVOR_BASE_UNIQUE_HANDLE_WIN_H_
#define ZANVOR_BASE_UNIQUE_HANDLE_WIN_H_

#include <windows.h>

#include <utility>

namespace zanvor {

template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueResource(Handle handle) noexcept : handle_(handle) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the held handle first, then takes the new one.
  void reset(Handle handle = Traits::Invalid()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) {
      const DWORD lastError = GetLastError();
      Traits::Close(old);
      SetLastError(lastError);
    }
  }

 private:
  Handle handle_;
};

// Kernel handles whose failure value is NULL (mutexes, sections).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// File handles whose failure value is INVALID_HANDLE_VALUE (mailslots).
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
using UniqueFile = UniqueResource<FileHandleTraits>;

// A mapped view of a section.
struct MappedViewTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { UnmapViewOfFile(h); }
};
using UniqueMappedView = UniqueResource<MappedViewTraits>;

// One ownership count of a mutex, held by the thread that waited for it
// (and the one that must close it): closing gives the count back and leaves
// the handle, which another owner holds, open.
struct MutexOwnershipTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ReleaseMutex(h); }
};
using UniqueMutexOwnership = UniqueResource<MutexOwnershipTraits>;

// A thread timer without a window.
struct ThreadTimerTraits {
  using Handle = UINT_PTR;
  static Handle Invalid() { return 0; }
  static void Close(Handle h) { KillTimer(nullptr, h); }
};
using UniqueThreadTimer = UniqueResource<ThreadTimerTraits>;

// A loaded module (FreeLibrary); the tools' link libraries.
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

// A window of our own (DestroyWindow); the tools' main and probe windows.
struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { DestroyWindow(h); }
};
using UniqueWindow = UniqueResource<WindowTraits>;

}  // namespace zanvor

#endif  // ZANVOR_BASE_UNIQUE_HANDLE_WIN_H_
