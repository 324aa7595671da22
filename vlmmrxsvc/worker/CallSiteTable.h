// The call-site table of GCC's exception tables: which instructions of a function an exception
// may leave from. The C++ personality ends the process for an exception that leaves from an
// instruction its function's table leaves out (a call of a function declared not to throw, a
// function built without -fnon-call-exceptions, a noexcept function), so the fault guard asks the
// table of every frame before it turns a machine fault into a C++ exception.
#pragma once

#include <cstdint>
#include <span>

// Whether the language-specific data `lsda` that GCC writes for a function (no landing-pad base
// of its own, the type table's encoding and offset, then the call sites as ULEB128 numbers in
// ascending order) has a call site whose range holds `offset`, in bytes from the function's
// start. False for data it cannot read whole: another landing-pad base or call-site encoding, or
// a table that runs past the end of `lsda`.
[[nodiscard]] bool CallSiteTableCovers(std::span<const std::uint8_t> lsda, std::uint64_t offset);
