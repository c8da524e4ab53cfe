// Feeds arbitrary bytes, as a reply or a file line would bring them, to every settings line reader.

#include "exchanges/WriteEchoCheck.h"
#include "settings/SettingsLines.h"
#include "settings/SettingsValidation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const SettingsUpdate update = ParseSettingsLine(bytes);
    if (update.kind == SettingsUpdate::Kind::Mac && update.macText.count(QLatin1Char(':')) != 5)
        std::abort();
    if (update.kind == SettingsUpdate::Kind::Address && !update.dottedParsed)
        std::abort();

    ParseDottedAddress(bytes);
    AtolSaturating(bytes);

    SettingsSnapshot controls;
    controls.ip = {QString::fromLatin1(bytes), "1", "2", "3"};
    DottedNumbers dotted{};
    CheckWriteEcho(bytes, controls, &dotted);

    int32_t value = 0;
    TextToInt32(QString::fromLatin1(bytes), &value);
    TextToInt32(QString::fromUtf8(bytes), &value);
    ValidateSettings(controls);
    return 0;
}
