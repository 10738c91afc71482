#include "output/ReadingJson.h"

#include <cstring>

namespace tavlo::output {

namespace {

void appendKey(QByteArray& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void appendStringOrNull(QByteArray& out, const QString& text) {
    if (text.isEmpty())
        out += "null";
    else
        appendJsonString(out, text);
}

} // namespace

void appendJsonString(QByteArray& out, QStringView text) {
    static constexpr char hex[] = "0123456789abcdef";
    // Plain ASCII, nearly all of a reading, is copied byte by byte into room made once; other characters go
    // through the UTF-8 encoder in runs.
    qsizetype at = out.size();
    out.resize(at + text.size() + 2);
    out[at++] = '"';
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c < 0x7f && c != u'"' && c != u'\\') {
            out.data()[at++] = static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0x80) {
            qsizetype end = i + 1;
            while (end < text.size() && text[end].unicode() >= 0x80)
                ++end;
            const QByteArray utf8 = text.mid(i, end - i).toUtf8();
            out.resize(out.size() + utf8.size());
            std::memcpy(out.data() + at, utf8.constData(), static_cast<size_t>(utf8.size()));
            at += utf8.size();
            i = end;
            continue;
        }
        char escape[6];
        qsizetype n = 2;
        escape[0] = '\\';
        switch (c) {
        case u'"':
            escape[1] = '"';
            break;
        case u'\\':
            escape[1] = '\\';
            break;
        case u'\n':
            escape[1] = 'n';
            break;
        case u'\r':
            escape[1] = 'r';
            break;
        case u'\t':
            escape[1] = 't';
            break;
        default:
            escape[1] = 'u';
            escape[2] = '0';
            escape[3] = '0';
            escape[4] = hex[(c >> 4) & 0xf];
            escape[5] = hex[c & 0xf];
            n = 6;
        }
        out.resize(out.size() + n - 1);
        std::memcpy(out.data() + at, escape, static_cast<size_t>(n));
        at += n;
        ++i;
    }
    out[at++] = '"';
    out.resize(at);
}

QByteArray readingJson(const worker::Reading& r) {
    QByteArray out;
    out.reserve(320 + r.raw.size() * 2);
    out += "{\"type\":\"reading\",";
    appendKey(out, "run");
    appendJsonString(out, r.run);
    out += ',';
    appendKey(out, "seq");
    out += QByteArray::number(r.seq);
    out += ',';
    appendKey(out, "time");
    appendJsonString(out, worker::isoTime(r.time));
    out += ',';
    appendKey(out, "station");
    appendJsonString(out, r.station);
    out += ',';
    appendKey(out, "port");
    appendJsonString(out, r.port);
    out += ',';
    appendKey(out, "instrument");
    appendJsonString(out, r.instrument);
    out += ',';
    appendKey(out, "raw");
    appendJsonString(out, worker::DataLine::transformControlChars(r.raw));
    out += ',';
    appendKey(out, "value");
    appendStringOrNull(out, r.value);
    out += ',';
    appendKey(out, "typed");
    out += r.typed ? "true" : "false";
    out += ',';
    appendKey(out, "unit");
    appendStringOrNull(out, r.unit);
    out += ',';
    appendKey(out, "stable");
    out += !r.stable ? "null" : *r.stable ? "true" : "false";
    out += ',';
    appendKey(out, "outcome");
    appendJsonString(out, worker::outcomeText(r.outcome));
    out += ',';
    appendKey(out, "error");
    appendStringOrNull(out, r.error);
    out += '}';
    return out;
}

QByteArray statusJson(const worker::StatusEvent& e) {
    QByteArray out;
    out.reserve(160 + e.text.size());
    out += "{\"type\":\"status\",";
    appendKey(out, "run");
    appendJsonString(out, e.run);
    out += ',';
    appendKey(out, "time");
    appendJsonString(out, worker::isoTime(e.time));
    out += ',';
    appendKey(out, "event");
    appendJsonString(out, worker::statusEventName(e.kind));
    out += ',';
    appendKey(out, "text");
    appendJsonString(out, e.text);
    out += '}';
    return out;
}

} // namespace tavlo::output
