// HTTP GET with a body read in blocks, in the shape of the Windows internet
// functions the video reader and the relay command were written for.
//
// Each request handle belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <functional>

namespace plat {

struct Internet;
using HINTERNET = Internet *;

// A session: the user agent and the settings its requests share.
HINTERNET InternetOpen(const char *agent);
// Sends the GET and returns once the answer's headers have arrived; null
// when the server cannot be reached or does not answer in time. The status
// is not looked at: an error page is a body like any other, and so is a
// redirect, which is never followed (a door unit has no reason to send one,
// and following it would take the request, relay commands included, to
// whatever host it names). Only plain HTTP, never through a proxy. As soon as
// `abandon` (if given) answers true, this and every later wait on the
// request stop, and the call fails.
HINTERNET InternetOpenUrl(HINTERNET session, const char *url,
                          std::function<bool()> abandon = {});
// Why the calling thread's last InternetOpenUrl failed, as Windows'
// GetLastError tells it after that call: one of these, 0 after a success.
constexpr unsigned long ERROR_INTERNET_TIMEOUT = 12002; // no answer in time
constexpr unsigned long ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr unsigned long ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr unsigned long ERROR_INTERNET_OPERATION_CANCELLED = 12017; // abandon
constexpr unsigned long ERROR_INTERNET_CANNOT_CONNECT = 12029;      // refused
// The connection closed before an answer came.
constexpr unsigned long ERROR_INTERNET_CONNECTION_RESET = 12031;
unsigned long InternetGetLastError();
// The answer's status code (200, 404, ...), as Windows' HttpQueryInfo with
// HTTP_QUERY_STATUS_CODE; 0 for a request that is not open.
unsigned HttpQueryStatusCode(HINTERNET request);
// Blocks until some of the body is there and copies at most `size` bytes.
// True with 0 bytes at the end of the body; false when the connection
// breaks, stays silent too long, or `abandon` answers true.
bool InternetReadFile(HINTERNET request, void *buffer, std::size_t size,
                      std::size_t *read);
// How many bytes of the body have already arrived and can be read without
// waiting; at most a chunked body's framing too many, and possibly fewer
// than are there. False for a request that is not open.
bool InternetQueryDataAvailable(HINTERNET request, std::size_t *available);
bool InternetCloseHandle(HINTERNET handle);

} // namespace plat
