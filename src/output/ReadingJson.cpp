#include "output/ReadingJson.h"

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
    out += '"';
    qsizetype plainFrom = 0;
    const auto flushPlain = [&](qsizetype upTo) {
        if (upTo > plainFrom)
            out += text.mid(plainFrom, upTo - plainFrom).toUtf8();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\' && c != 0x7f)
            continue;
        flushPlain(i);
        plainFrom = i + 1;
        switch (c) {
        case u'"':
            out += "\\\"";
            break;
        case u'\\':
            out += "\\\\";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        default:
            out += "\\u00";
            out += hex[(c >> 4) & 0xf];
            out += hex[c & 0xf];
        }
    }
    flushPlain(text.size());
    out += '"';
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
