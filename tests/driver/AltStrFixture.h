// What the test driver behind "\\.\VlmAltStr" and the tests that read it share. The driver is a
// test fixture: it stands in for the stream driver, which is no part of the service.
#pragma once

// Answers with the control codes received so far, oldest first, one 32-bit code per slot; the
// bytes returned say how many. This code itself is not recorded.
inline constexpr unsigned long kFixtureQueryCodes = 0x00222400;  // device 0x22, function 0x900
// The driver keeps at most this many codes; later ones are dropped.
inline constexpr unsigned kFixtureCodeCapacity = 256;
