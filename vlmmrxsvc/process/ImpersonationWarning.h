// The text of a warning that CImpersonate reports when it cannot act as a process's owner.
#pragma once

#include <string>
#include <string_view>

// `pattern` (a string-table text) with each "%s" replaced by `user` and each "%d" by `error` in
// decimal, as a signed number the way "%d" prints it.
[[nodiscard]] std::wstring FormatImpersonationWarning(std::wstring_view pattern,
                                                      std::wstring_view user, int error);
