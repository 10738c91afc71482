#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tavlo::sim {

// C-style escapes in a command-line text: \r \n \t \\ \0 \e \xHH; anything else stays as it is.
QByteArray decodeEscapes(const QString& text);

// Fills a printf-like record template with a decimal value, exactly (no floating point):
//   %s               the value as given
//   %[+][0][-][W][.P]f  the value with P fraction digits (half up), '+' for a sign on positive values,
//                    '0' zero padding after the sign, '-' left alignment, W the minimum width
//   %%               a percent sign
// Returns none for a template or value it cannot use, with the reason in `error`.
std::optional<QByteArray> fillTemplate(const QByteArray& format, const QString& value, QString* error = nullptr);

// The record template of a profile's usual output, stable and unstable, and of its answers to tare and zero
// where its maker documents them (%s in the tare answer: the tare weight); none for profiles without a preset.
struct Preset {
    const char* stable;
    const char* unstable;
    const char* tareAnswer = nullptr;
    const char* zeroAnswer = nullptr;
};
std::optional<Preset> presetFor(const QString& instrument);

} // namespace tavlo::sim
