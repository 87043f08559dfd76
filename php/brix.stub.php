<?php

/**
 * The sixteen functions of the brix extension, as PHP sees them.
 *
 * This file is the source of php/brix_arginfo.h (scripts/gen-arginfo.sh
 * regenerates it with PHP's gen_stub.php) and the stub that IDEs and
 * static analysers read: it is never run.
 *
 * A session is named by a handle, a text of four numbers each followed by
 * a comma; "0,0,0,0," names no session, and every call with it answers
 * "uninitialized" (bx_count: -7).  Most calls answer a return-code text:
 * "OK", or a refusal such as "bad invoice", "duplicate invoice",
 * "syntax error", "invalid request"; bx_textvalue() then gives the longer
 * answer text of the call, for example "text {no such transaction}".
 * Invoices are kept as eight upper-case letters and digits, padded with X.
 *
 * @generate-function-entries
 */

/**
 * Opens a session on a merchant configuration.
 *
 * The configuration is the file "<configuration>.conf" in $BRIX_CONFIG_DIR,
 * else in the directory of the ini setting brix.config_dir, else in
 * /var/brix or /usr/local/etc/brix.  A failure answers "0,0,0,0," and
 * raises a warning that gives the reason.
 *
 * @param string $configuration name of the merchant configuration
 * @return string handle of the new session, "0,0,0,0," on failure
 */
function bx_init(string $configuration): string {}

/**
 * Closes a session.  Sessions a request leaves open are closed at its end.
 *
 * @param string $handle session handle from bx_init()
 * @return string always "OK"
 */
function bx_done(string $handle): string {}

/**
 * Creates a transaction in the "new" queue.
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the new transaction
 * @return string return-code text ("OK", "duplicate invoice", ...)
 */
function bx_new(string $handle, string|int $invoice): string {}

/**
 * Sets one field of a transaction that is still in the "new" queue.
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @param string $field field name, in any case: "amount", "cardnum",
 *        "expdate", "address", "zipcode", "cvv2", "comment", ...
 * @param string|int $value the field's value, for example "12.34"
 * @return string return-code text ("OK", "syntax error", "bad invoice", ...)
 */
function bx_add(string $handle, string|int $invoice, string $field, string|int $value): string {}

/**
 * Deletes a transaction that has not been sent for processing.
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string return-code text
 */
function bx_delete(string $handle, string|int $invoice): string {}

/**
 * Asks for an authorisation: the transaction waits in "unauth" for the
 * processing daemon, which moves it on to "auth" or "denied".
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string return-code text
 */
function bx_auth(string $handle, string|int $invoice): string {}

/**
 * Asks for a refund: the transaction waits in "ready" for the next batch.
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string return-code text
 */
function bx_return(string $handle, string|int $invoice): string {}

/**
 * Asks for the reversal of an authorisation.
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string return-code text
 */
function bx_reverse(string $handle, string|int $invoice): string {}

/**
 * Asks for a sale: the transaction waits in "ready" for the next batch
 * upload, after which it is in "done".
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string return-code text
 */
function bx_sale(string $handle, string|int $invoice): string {}

/**
 * Asks for a void of a transaction that waits for the next batch.
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string return-code text
 */
function bx_void(string $handle, string|int $invoice): string {}

/**
 * Tells which queue holds a transaction; bx_textvalue() then gives its
 * status line (amount, times, authorisation code, processor's answer).
 *
 * @param string $handle session handle from bx_init()
 * @param string|int $invoice invoice of the transaction
 * @return string "new", "auth", "ready", "done", "unauth", "denied",
 *         "review", "bad", "none" (held nowhere) or "unknown" (no session)
 */
function bx_status(string $handle, string|int $invoice): string {}

/**
 * Counts the transactions of a queue; with "all", bx_textvalue() gives
 * the count of every queue.
 *
 * @param string $handle session handle from bx_init()
 * @param string $status queue name ("new", "auth", ..., "bad") or "all"
 * @return int the count, or a negative code (-7: no session)
 */
function bx_count(string $handle, string $status): int {}

/**
 * The invoice of the index-th transaction of a queue.
 *
 * @param string $handle session handle from bx_init()
 * @param string $status queue name ("new", "auth", ..., "bad")
 * @param string|int $index position in the queue, from 1
 * @return string the invoice, "NONE" past the end, or an error text
 */
function bx_lookup(string $handle, string $status, string|int $index): string {}

/**
 * Reads a report of the processing daemon into the answer text.
 *
 * @param string $handle session handle from bx_init()
 * @param string $type "server" or "upload"
 * @return string return-code text
 */
function bx_report(string $handle, string $type): string {}

/**
 * Runs a command of the merchant's clearing protocol.
 *
 * @param string $handle session handle from bx_init()
 * @param string $command "initialize", "cancel", "resend", "forcebatch",
 *        "receipt" or "phonenum"
 * @param string|int $argument the command's argument, "" for none
 * @return string return-code text
 */
function bx_command(string $handle, string $command, string|int $argument): string {}

/**
 * The answer text of the session's last call.
 *
 * @param string $handle session handle from bx_init()
 * @return string the answer text, "" when there is no session
 */
function bx_textvalue(string $handle): string {}
