// Reading an HTTP/1.x reply off the wire: when it is complete (Content-Length, chunked, or the
// server closing), and what its body is.
#pragma once

#include <string>

namespace _VelmoUpload {

class HttpReply {
public:
    // True once raw holds a whole reply whose end the reply itself marks: the header and
    // Content-Length bytes of body, or the header and every chunk through the last one.
    // A reply without either ends only when the server closes.
    static bool IsComplete(const std::string& strRaw);

    // For a "200 OK" reply whose header has ended: the decoded body (chunks joined, size lines
    // removed), true. Anything else, a truncated body included: false, strRaw untouched.
    static bool ExtractBody(std::string& strRaw);

    // True when what arrived before the connection ended is not a whole reply: no end of
    // header, or a sized or chunked body that stops short. A reply delimited by the close is
    // whole.
    static bool IsCutShort(const std::string& strRaw);

    // The status code of the status line, or -1 when there is none.
    static int StatusCode(const std::string& strRaw);
};

}  // namespace _VelmoUpload
