// bx_api_request: the engine behind the five processing requests
// (bx_auth, bx_sale, bx_return, bx_reverse, bx_void).  Each request's own
// file only names its request; the transition table and the changes each
// request makes live in bx_api_request.cpp.
#ifndef BRIX_API_BX_API_REQUEST_H
#define BRIX_API_BX_API_REQUEST_H

#include "session/bx_session.h"

// The processing requests, in the column order of the transition table.
enum class bx_request { auth, sale, return_, reverse, void_ };

// Checks the request against the invoice's state and the protocol's
// validator, marks the transaction and moves it to the queue the daemon
// takes it from.  Returns BX_OK (apitext empty); a refusal by state (its
// code and text); BX_INVALID (the validator's text); BX_FAILED when a queue
// could not be opened, locked, read or written (the transaction stays where
// it was); BX_UNINIT without a session (apitext untouched).
int bx_api_request(bx_session vsess, const char *invoice, bx_request request) noexcept;

#endif
