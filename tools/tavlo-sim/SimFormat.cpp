#include "SimFormat.h"

#include "base/Decimal.h"
#include "base/Exceptions.h"

#include <QHash>

namespace tavlo::sim {

QByteArray decodeEscapes(const QString& text) {
    const QByteArray in = text.toLatin1();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 >= in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        switch (c) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case 'e':
            out += '\x1b';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            bool ok = false;
            const int value = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok && i + 2 < in.size()) {
                out += static_cast<char>(value);
                i += 2;
            } else {
                out += "\\x";
            }
            break;
        }
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

std::optional<QByteArray> fillTemplate(const QByteArray& format, const QString& value, QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<QByteArray> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QByteArray out;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (++i >= format.size())
            return fail(QStringLiteral("template ends in %"));
        bool plus = false, zero = false, left = false;
        for (; i < format.size(); ++i) {
            if (format[i] == '+')
                plus = true;
            else if (format[i] == '0')
                zero = true;
            else if (format[i] == '-')
                left = true;
            else
                break;
        }
        int width = 0;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9')
            width = width * 10 + (format[i++] - '0');
        int precision = -1;
        if (i < format.size() && format[i] == '.') {
            precision = 0;
            while (++i < format.size() && format[i] >= '0' && format[i] <= '9')
                precision = precision * 10 + (format[i] - '0');
        }
        if (i >= format.size())
            return fail(QStringLiteral("unfinished conversion in the template"));
        QByteArray field;
        switch (format[i]) {
        case '%':
            out += '%';
            continue;
        case 's':
            field = value.toLatin1();
            break;
        case 'f': {
            const auto number = base::Decimal::tryParse(value);
            if (!number)
                return fail(QStringLiteral("not a decimal number: %1").arg(value));
            const base::Decimal rounded =
                precision >= 0 ? number->setScale(precision, base::RoundingMode::HALF_UP) : *number;
            QString digits = rounded.abs().toPlainString();
            const QByteArray sign = rounded.signum() < 0 ? "-" : (plus ? "+" : "");
            QByteArray body = digits.toLatin1();
            if (zero && !left)
                while (sign.size() + body.size() < width)
                    body.prepend('0');
            field = sign + body;
            break;
        }
        default:
            return fail(QStringLiteral("unknown conversion %%%1").arg(QChar(format[i])));
        }
        while (field.size() < width) {
            if (left)
                field.append(' ');
            else
                field.prepend(' ');
        }
        out += field;
    }
    return out;
}

std::optional<Preset> presetFor(const QString& instrument) {
    static const QHash<QString, Preset> presets = {
        // With "AK, error code" on, A&D balances answer a control command with AK (06h) and CR LF.
        {"AND", {"ST,%+09.2f  g\r\n", "US,%+09.2f  g\r\n", "\x06\r\n", "\x06\r\n"}},
        {"AND_SIMPLE", {"ST,%+09.2f  g\r\n", "US,%+09.2f  g\r\n", "\x06\r\n", "\x06\r\n"}},
        {"AND_EM", {"ST,%+09.2f  g\r\n", "US,%+09.2f  g\r\n"}},
        {"GENERIC", {"%+10.3f g\r\n", "%+10.3f g ?\r\n"}},
        {"KERN_572", {"%10.3f g\n", "%10.3f g ?\n"}},
        {"KERND_440E", {"%10.3f g\n", "%10.3f g ?\n"}},
        {"KERND_DE", {"%10.3f g\n", "%10.3f g ?\n"}},
        {"KERN_DS", {"%10.3f g\n", "%10.3f g ?\n"}},
        {"KERN_FKB", {"%10.3f g\n", "%10.3f g ?\n"}},
        {"KERN_KB_N", {"%10.3f g\n", "%10.3f g ?\n"}},
        {"KERN_KFB", {"ST,GS %10.3f kg\n", "US,GS %10.3f kg\n"}},
        {"KERN_MPS", {"N  %8.2f kg\n", "N  %8.2f kg ?\n"}},
        {"KERN_RPB", {"N:  %8.3f kg\r", "N:  %8.3f kg ?\r"}},
        {"KEYENCE_IL", {"DR,02,%+08.3f\r", "DR,02,%+08.3f\r"}},
        // MT-SICS answers T with the tare weight and Z with "Z A".
        {"METTLER_PRINT", {"S S %10.3f g\r\n", "S D %10.3f g\r\n", "T S %10.3f g\r\n", "Z A\r\n"}},
        {"METTLER_DIALOG", {"S S %10.3f g\r\n", "S D %10.3f g\r\n", "T S %10.3f g\r\n", "Z A\r\n"}},
        {"MITUTOYO", {"01A%+09.4f\r", "01A%+09.4f\r"}},
        {"OHAUS", {"%10.2f g\r\n", "%10.2f g ?\r\n", "OK!\r\n", "OK!\r\n"}},
        {"OHAUSSPU", {"%10.2f g\r\n", "%10.2f g ?\r\n"}},
        {"SARTORIUS", {"N     +  %8.2f g  \r\n", "N     +  %8.2f    \r\n"}},
        {"TANITA_TL280", {"{0,16,~0,1,MO,\"TL-280\",Wg,%s,Pt,0\n", "{0,16,~0,1,MO,\"TL-280\",Wg,%s,Pt,0\n"}},
        {"WEDDERBURN", {"0  %8.2f\n", "A  %8.2f\n"}},
        {"BARCODE_ALPHA_COMPLETE", {"%s\r", "%s\r"}},
        {"ADAM_CPWPLUS", {"N %+8.2f kg\r\n", "N %+8.2f kg\r\n"}},
    };
    const auto it = presets.constFind(instrument);
    if (it == presets.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace tavlo::sim
