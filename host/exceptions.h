// The runtime's exception classes. Every failure travels as one of these:
// the class name and the message are what the fatal-error report shows, so
// both are part of the program's observable behaviour.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace host {

class Exception {
 public:
  explicit Exception(std::string message) : owned_(std::move(message)) {}
  virtual ~Exception() = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  std::string_view Message() const { return literal_ ? std::string_view(literal_) : owned_; }
  virtual const char* ClassName() const { return "Exception"; }
  // Where the exception was raised; the fatal-error report shows it relative
  // to the module that holds it.
  const void* Address() const { return address_; }
  void SetAddress(const void* address) { address_ = address; }

 protected:
  // For messages that must be raised without touching the heap: copying an
  // exception that holds only a literal allocates nothing.
  struct Literal {};
  Exception(Literal, const char* message) : literal_(message) {}

 private:
  std::string owned_;
  const char* literal_ = nullptr;
  const void* address_ = nullptr;
};

#define HOST_EXCEPTION_CLASS(Name, Base)                     \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

HOST_EXCEPTION_CLASS(EStreamError, Exception);
HOST_EXCEPTION_CLASS(EFileStreamError, EStreamError);
HOST_EXCEPTION_CLASS(EFilerError, EStreamError);
HOST_EXCEPTION_CLASS(EHeapException, Exception);

class EResNotFound : public Exception {
 public:
  // The name is shown as the caller asked for it, not as it is stored.
  explicit EResNotFound(std::string_view asked_name);
  const char* ClassName() const override { return "EResNotFound"; }
};

class EFCreateError : public EFileStreamError {
 public:
  EFCreateError(std::string_view full_path, std::string_view system_text);
  const char* ClassName() const override { return "EFCreateError"; }
};

class EWriteError : public EFilerError {
 public:
  EWriteError();
  const char* ClassName() const override { return "EWriteError"; }
};

class EInOutError : public Exception {
 public:
  EInOutError(std::string message, int error_code)
      : Exception(std::move(message)), error_code_(error_code) {}
  const char* ClassName() const override { return "EInOutError"; }
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_;
};

class EOutOfMemory : public EHeapException {
 public:
  EOutOfMemory();
  const char* ClassName() const override { return "EOutOfMemory"; }
};

class EInvalidPointer : public EHeapException {
 public:
  EInvalidPointer();
  const char* ClassName() const override { return "EInvalidPointer"; }
};

#undef HOST_EXCEPTION_CLASS

// The runtime's German messages, in the host's narrow encoding: Windows-1252
// where the text goes to MessageBoxA, UTF-8 on POSIX.
namespace messages {
inline constexpr const char* kResNotFound = "Ressource %s wurde nicht gefunden";
inline constexpr const char* kFCreateError = "Datei \"%s\" kann nicht erstellt werden. %s";
inline constexpr const char* kWriteError = "Stream-Schreibfehler";
inline constexpr const char* kCreateDir = "Verzeichnis kann nicht erstellt werden";
// A staging folder that the host refuses (EInOutError): its path, then the
// reason in the host's own words.
inline constexpr const char* kFolderRefused = "Verzeichnis \"%s\" kann nicht verwendet werden. %s";
inline constexpr const char* kOutOfMemory = "Zu wenig Arbeitsspeicher";
extern const char* const kInvalidPointer;  // holds a non-ASCII letter: per host
}  // namespace messages

// Raises E with the caller's address recorded. Kept out of line so that the
// return address is the raising site in the caller.
template <class E, class... Args>
[[noreturn, gnu::noinline]] void Raise(Args&&... args) {
  E e(std::forward<Args>(args)...);
  e.SetAddress(__builtin_return_address(0));
  throw e;
}

// The two heap exceptions are made once at start-up and raised again for
// every failure, so that running out of memory never needs memory.
[[noreturn]] void RaiseOutOfMemory();
[[noreturn]] void RaiseInvalidPointer();

// Fills %s placeholders in order; the runtime's messages use nothing else.
std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args);

}  // namespace host
