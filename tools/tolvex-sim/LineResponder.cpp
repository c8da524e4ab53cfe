#include "LineResponder.h"

#include "FaultSettings.h"
#include "UnitSettings.h"

namespace {

LineResponse Answer(const QByteArray &text)
{
    return LineResponse{LineResponse::Kind::Answer, text + "\r\n"};
}

} // namespace

LineResponse LineResponder::respond(const QByteArray &line, const FaultSettings &faults)
{
    if (line.isEmpty())
        return Answer("OK");
    const QByteArray lower = line.toLower();
    if (lower == "sv")
        return Answer("SV" + faults.version);
    if (lower == "zp")
        return LineResponse{LineResponse::Kind::StartTransfer, QByteArray()};
    if (lower == "zc")
        return Answer("OK");

    QByteArray code;
    QByteArray value;
    if (!UnitSettings::splitLine(line, &code, &value) || !UnitSettings::isValueCode(code) ||
        faults.refuse.contains(code))
        return Answer("Error");
    if (!value.isEmpty())
        m_settings->store(code, value);
    if (faults.answerAs.contains(code))
        return Answer(faults.answerAs.value(code));
    return Answer(m_settings->answer(code, faults.wrongEcho.contains(code)));
}
