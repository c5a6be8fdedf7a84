#pragma once
// Helpers at the Windows API boundary: the bridge keeps text as UTF-8 and the system takes
// UTF-16, so every call into a wide-character API converts here; handles are closed by
// their owner; error codes become the system's own words. Only built for Windows.
#if defined(_WIN32)
#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace cutrelay {

// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::wstring widen(std::string_view utf8);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string narrow(std::wstring_view utf16);

// The system's message for a GetLastError() code, without its trailing line break.
std::string win32_error_text(DWORD code);

// An environment variable's value read as UTF-16 (so any user name survives), or nothing
// when it is unset or empty.
std::optional<std::wstring> environment_variable(const wchar_t* name);

// A folder the shell knows (SHGetKnownFolderPath), or nothing when it has none.
std::optional<std::filesystem::path> known_folder(const GUID& id);

// A kernel handle closed when its owner goes.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  OwnedHandle(OwnedHandle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { reset(); }

  HANDLE get() const { return h_; }
  HANDLE release() { return std::exchange(h_, nullptr); }
  explicit operator bool() const { return h_ != nullptr; }
  void reset() {
    if (h_ != nullptr) ::CloseHandle(std::exchange(h_, nullptr));
  }

 private:
  HANDLE h_ = nullptr;
};

// One argument quoted for a command line as the C runtime's parser (CommandLineToArgvW)
// splits it: quotes and the backslashes before them are escaped.
std::wstring quote_argument(std::wstring_view arg);

// A security descriptor that grants the current user, and no one else, full access to an
// object and keeps the parent folder's permissions from being inherited. Freed with
// LocalFree; nullptr when it cannot be built.
PSECURITY_DESCRIPTOR owner_only_security_descriptor();

}  // namespace cutrelay
#endif
