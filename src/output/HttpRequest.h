#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

namespace tavlo::output {

// The head of one HTTP/1.1 request, read by the reading service before it decides what to do with the
// connection: answer it, refuse it, or hand it to the WebSocket server. Parsing is strict, since the head
// decides who may read and command the instrument: anything ambiguous is invalid.
struct HttpRequest {
    enum class Parse { Incomplete, Complete, Invalid, TooLarge };

    // The longest head accepted (request line and headers with the blank line).
    static constexpr qsizetype kMaxHeadBytes = 8192;
    static constexpr int kMaxHeaders = 64;

    QByteArray method;  // "GET"
    QByteArray target;  // "/readings?token=..."
    QByteArray path;    // "/readings"
    QByteArray query;   // "token=..." (no '?'); empty: none
    QByteArray version; // "HTTP/1.1"
    // Names in lower case, values without the blanks around them, in the order received.
    QList<QPair<QByteArray, QByteArray>> headers;
    qsizetype headSize = 0; // the head's bytes, blank line included

    // Reads a head from the start of data. Complete fills out (and headSize); Invalid and TooLarge give the
    // reason; Incomplete wants more bytes.
    static Parse parse(const QByteArray& data, HttpRequest* out, QString* reason);

    // The header's value (name in lower case); none when absent.
    std::optional<QByteArray> header(const char* name) const;
    // A query parameter's value, percent-decoded; none when absent.
    std::optional<QByteArray> queryValue(const char* name) const;
    // A WebSocket handshake: "Upgrade: websocket" with "Connection: upgrade".
    bool wantsWebSocket() const;
    // The connection stays open after the answer (HTTP/1.1 unless "Connection: close"; HTTP/1.0 only with
    // "Connection: keep-alive").
    bool keepAlive() const;
    // The body's length from Content-Length (0 without one); none when it is not a plain decimal number.
    std::optional<qint64> contentLength() const;
};

} // namespace tavlo::output
