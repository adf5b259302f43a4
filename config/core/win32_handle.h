// One owner for a kernel handle, closed on every path.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace orvel {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Some calls fail with INVALID_HANDLE_VALUE rather than null; both own nothing.
inline UniqueHandle OwnHandle(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace orvel
