#pragma once

#include <cstdint>

// What the port holds when the line turns back to receive came while the request was on the
// line: the echo of a two-wire adapter, or already the start of the answer when the writer got
// back late. Only bytes that repeat the request from its first byte can be the echo; anything
// else belongs to the answer.

// EchoAtHead's verdict while every byte so far repeats the request and the rest may still come.
inline constexpr int kEchoUndecided = -1;

// The length of the echo at the head of received[0..count): the request's length when the bytes
// begin with a whole copy of it, kEchoUndecided while they are a shorter part of its beginning,
// and 0 once one of them differs (then none of them is the echo).
int EchoAtHead(const uint8_t* received, int count, const uint8_t* request, int requestLength);
