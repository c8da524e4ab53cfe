#include "EventLog.h"

#include <cstdio>

QByteArray EscapeBytes(const QByteArray &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        switch (u) {
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u >= 0x20 && u < 0x7F) {
                out += c;
            } else {
                out += "\\x";
                out += hex[u >> 4];
                out += hex[u & 0x0F];
            }
        }
    }
    return out;
}

void EventLog::write(const QByteArray &event)
{
    // A reader that went away must not take the simulator down: SIGPIPE is ignored in main and
    // write errors are dropped here.
    std::fwrite(event.constData(), 1, static_cast<size_t>(event.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
