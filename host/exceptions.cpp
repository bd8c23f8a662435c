#include "host/exceptions.h"

namespace host {

std::string FormatMessage(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out.append(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

EResNotFound::EResNotFound(std::string_view asked_name)
    : Exception(FormatMessage(messages::kResNotFound, {asked_name})) {}

EFCreateError::EFCreateError(std::string_view full_path, std::string_view system_text)
    : EFileStreamError(FormatMessage(messages::kFCreateError, {full_path, system_text})) {}

EWriteError::EWriteError() : EFilerError(messages::kWriteError) {}

EOutOfMemory::EOutOfMemory() : EHeapException(Literal{}, messages::kOutOfMemory) {}

EInvalidPointer::EInvalidPointer() : EHeapException(Literal{}, messages::kInvalidPointer) {}

namespace {
// Made during start-up, before the program's body runs.
const EOutOfMemory out_of_memory;
const EInvalidPointer invalid_pointer;
}  // namespace

[[gnu::noinline]] void RaiseOutOfMemory() {
  EOutOfMemory e = out_of_memory;
  e.SetAddress(__builtin_return_address(0));
  throw e;
}

[[gnu::noinline]] void RaiseInvalidPointer() {
  EInvalidPointer e = invalid_pointer;
  e.SetAddress(__builtin_return_address(0));
  throw e;
}

}  // namespace host
